// Demo data for the Customer and People tables: made-up companies with addresses, and people
// belonging to them whose fields pass the People validation. The same seed gives the same data
// on every machine (the generator draws from its own fixed word lists with a fixed random engine
// and no library distribution, whose results may differ between standard libraries).
#pragma once
#include "runtime/field.h"

#include <cstdint>
#include <random>
#include <string>

namespace sorv::app {

class DemoGenerator {
public:
    explicit DemoGenerator(std::uint32_t seed) : rng_(seed) {}

    // Fills a Customer record's fields but CUST:SysId (the file manager numbers it).
    void customer(Record& r);
    // Fills a People record, every field, for the customer with the given CUST:SysId.
    void person(Record& r, std::int32_t customerId);

    // A number in [0, n).
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

private:
    std::string postalCode(const char* pattern);
    std::mt19937 rng_;
};

struct DemoDataOptions {
    int customers = 60;
    int people = 400;
    std::uint32_t seed = 1;
};

// Writes CUSTOMER.QNL and PEOPLE.QNL into the existing directory `dir` through the dictionary's
// file managers (customers numbered by the Customer file manager, every person validated before
// it is inserted). The files are made in a scratch directory inside `dir` and moved into place
// only when both are whole; existing files are never replaced. Answers "" or what went wrong.
// The dictionary must not be set up when this is called (it is set up and torn down here), and
// the working directory is changed while the files are made, so no other thread may rely on it.
std::string writeDemoData(const std::string& dir, const DemoDataOptions& options);

} // namespace sorv::app
