// The demo data generator and its writing through the dictionary.
#include "app/demodata.h"

#include "app/dictionary.h"
#include "runtime/datetime.h"
#include "windowing/desktop.h"

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <unistd.h>

namespace sorv::app {

namespace {

// Word lists of our own: company and place names are made up, person names are common given
// names and surnames drawn independently, so no real person is described.
const char* const companyFirst[] = {
    "Amberlow", "Birchgate",  "Cobalt Ridge", "Dunmore",    "Elmstead",    "Fairholt",    "Glenvale",
    "Harrowby", "Ivelbrook",  "Juniperfield", "Kestrel",    "Larkspur",    "Marlowe",     "Nettlebed",
    "Oakhurst", "Pellingham", "Quarrystone",  "Rowanmere",  "Saltmarsh",   "Thistledown", "Umberleigh",
    "Vantorra", "Wrexley",    "Yarrowdale",   "Brightwell", "Coldharbour", "Silverbeck",  "Redfern"};
const char* const companyTrade[] = {"Tools",    "Textiles", "Freight",  "Bakeries", "Instruments", "Supplies",
                                    "Works",    "Foods",    "Printing", "Joinery",  "Ceramics",    "Optics",
                                    "Plastics", "Software", "Gardens",  "Lighting", "Paper",       "Brewing"};
const char* const companySuffix[] = {" Ltd", " & Co", " Group", " Partners", "", " Inc", " Trading"};

const char* const streets[] = {"Mill",    "Station", "Church",  "Orchard", "Bridge",   "Meadow", "Quarry",
                               "Harbour", "Chapel",  "Kiln",    "Tanners", "Ropewalk", "Falcon", "Heron",
                               "Weavers", "Granary", "Lantern", "Cooper",  "Ashdown",  "Beacon"};
const char* const streetKinds[] = {"Road", "Lane", "Street", "Way", "Avenue", "Close", "Row", "Hill"};
const char* const premises[] = {"Unit ", "Suite ", "Floor ", "Block ", "Building "};

struct Country {
    const char* name;
    const char* postal; // 9 a digit, A a capital letter, anything else itself
};
const Country countries[] = {
    {"United Kingdom", "AA9 9AA"}, {"United States", "99999"}, {"Canada", "A9A 9A9"}, {"Germany", "99999"},
    {"France", "99999"},           {"Netherlands", "9999 AA"}, {"Australia", "9999"}, {"Sweden", "999 99"},
    {"Ireland", "A99 A9A9"},       {"New Zealand", "9999"},    {"Denmark", "9999"},   {"Belgium", "9999"}};
const char* const cities[] = {"Ashbury",     "Brackenford", "Coldwater Bay", "Dunhollow", "Eastmere",
                              "Fernlow",     "Greyhaven",   "Hollins Cross", "Kettleby",  "Longmarsh",
                              "Millbridge",  "Northcombe",  "Oxley Vale",    "Pennock",   "Ravensholt",
                              "Stonebury",   "Thornfield",  "Underhill",     "Wexmoor",   "Aldermoor",
                              "Birchington", "Crowhurst",   "Deepdale",      "Elderwick", "Foxmere"};

const char* const maleNames[] = {"James",  "Robert", "John",    "Michael", "David",  "William", "Richard",
                                 "Thomas", "Daniel", "Matthew", "Anthony", "Mark",   "Paul",    "Steven",
                                 "Andrew", "Kevin",  "Brian",   "George",  "Edward", "Peter",   "Samuel",
                                 "Oliver", "Henry",  "Lucas",   "Felix",   "Marcus", "Adrian",  "Victor"};
const char* const femaleNames[] = {"Mary",    "Patricia", "Jennifer", "Linda", "Elizabeth", "Barbara",
                                   "Susan",   "Jessica",  "Sarah",    "Karen", "Nancy",     "Margaret",
                                   "Sandra",  "Emily",    "Michelle", "Carol", "Amanda",    "Melissa",
                                   "Rebecca", "Laura",    "Helen",    "Clara", "Sophie",    "Hannah",
                                   "Ingrid",  "Nora",     "Vera",     "Alice"};
const char* const surnames[] = {"Ashworth",  "Bellamy",   "Carrow",    "Dalby",    "Everett",    "Fenwick",
                                "Garside",   "Hargreave", "Ingram",    "Jessop",   "Kimble",     "Lathom",
                                "Merriman",  "Norbury",   "Oakley",    "Pendle",   "Quilter",    "Rawlins",
                                "Sowerby",   "Tranter",   "Upton",     "Varley",   "Whitlock",   "Yardley",
                                "Abernethy", "Brindley",  "Colquitt",  "Dunstan",  "Eastwood",   "Frobisher",
                                "Gorringe",  "Hebden",    "Ibbotson",  "Kershaw",  "Lockwood",   "Moorcroft",
                                "Nuttall",   "Ormerod",   "Pickering", "Redmayne", "Stansfield", "Thackray"};

template <typename T, std::size_t N> const T& pick(DemoGenerator& g, const T (&list)[N]) {
    return list[g.below(static_cast<std::uint32_t>(N))];
}

// Kills the dictionary and puts the working directory back however writeDemoData leaves.
class Session {
public:
    explicit Session(const std::filesystem::path& scratch) {
        old_ = std::filesystem::current_path(ec);
        if (!ec) std::filesystem::current_path(scratch, ec);
    }
    ~Session() {
        if (dictionary) {
            RelateCustomer().Close();
            RelatePeople().Close();
            DictionaryKill();
        }
        std::error_code ignored;
        if (!old_.empty()) std::filesystem::current_path(old_, ignored);
    }
    std::error_code ec;
    bool dictionary = false;

private:
    std::filesystem::path old_;
};

// Shows nothing: the text of the first message raised is kept for the caller.
class CollectingErrors : public fw::ErrorManager {
public:
    std::string first;

protected:
    int ShowBox(const std::string& text, const std::string&, int, int, int) override {
        if (first.empty()) first = text;
        return win::button::Ok;
    }
    void Halt(const std::string& text) override {
        if (first.empty()) first = text;
    }
};

std::string fail(const std::string& what, const CollectingErrors& errors) {
    return errors.first.empty() ? what : what + ": " + errors.first;
}

} // namespace

std::string DemoGenerator::postalCode(const char* pattern) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (*p == '9')
            out += static_cast<char>('0' + below(10));
        else if (*p == 'A')
            out += static_cast<char>('A' + below(26));
        else
            out += *p;
    }
    return out;
}

void DemoGenerator::customer(Record& r) {
    std::string company =
        std::string(pick(*this, companyFirst)) + " " + pick(*this, companyTrade) + pick(*this, companySuffix);
    r.set("CUST:Company", company.substr(0, 30));
    std::string street =
        std::to_string(1 + below(240)) + " " + pick(*this, streets) + " " + pick(*this, streetKinds);
    r.set("CUST:Address1", street.substr(0, 20));
    std::string premisesLine;
    if (below(3) == 0) premisesLine = std::string(pick(*this, premises)) + std::to_string(1 + below(40));
    r.set("CUST:Address2", premisesLine);
    r.set("CUST:City", pick(*this, cities));
    const Country& c = pick(*this, countries);
    r.set("CUST:PostalZipCode", postalCode(c.postal));
    r.set("CUST:Country", c.name);
}

void DemoGenerator::person(Record& r, std::int32_t customerId) {
    r.set("PPL:SysId", customerId);
    bool male = below(2) == 0;
    r.set("PPL:FirstName", male ? pick(*this, maleNames) : pick(*this, femaleNames));
    r.set("PPL:LastName", pick(*this, surnames));
    // Area codes of 200 to 999 with the exchange and line numbers kept for made-up numbers.
    char phone[16];
    std::snprintf(phone, sizeof phone, "%03u5550%03u", 200 + below(800), 100 + below(100));
    r.set("PPL:Phone", phone);
    int year = 1945 + static_cast<int>(below(46)); // 1945 to 1990
    int month = 1 + static_cast<int>(below(12));
    int day = 1 + static_cast<int>(below(static_cast<std::uint32_t>(daysInMonth(year, month))));
    r.set("PPL:DoB", dayNumber(year, month, day));
    r.set("PPL:Male", male ? 1 : 0);
    // Hired from the age of 18, within the years the validation accepts (1970 to 2010).
    int firstHire = std::max(1970, year + 18);
    r.set("PPL:YearHired",
          std::to_string(firstHire + static_cast<int>(below(static_cast<std::uint32_t>(2011 - firstHire)))));
    std::int64_t salary = 12000 + 100 * static_cast<std::int64_t>(below(1200));
    if (below(10) == 0) salary += 100 * static_cast<std::int64_t>(below(700));
    r.set("PPL:Salary", Value(std::min<std::int64_t>(salary, 200000)));
}

std::string writeDemoData(const std::string& dir, const DemoDataOptions& options) {
    namespace fs = std::filesystem;
    if (options.customers < 1) return "at least one customer is needed (people belong to customers)";
    if (options.people < 0) return "the number of people cannot be negative";
    std::error_code ec;
    fs::path target = fs::absolute(dir, ec);
    if (ec || !fs::is_directory(target, ec)) return dir + " is not a directory";
    if (::access(target.c_str(), W_OK | X_OK) != 0) return dir + " cannot be written to";
    for (const char* name : {"CUSTOMER.QNL", "PEOPLE.QNL"})
        if (fs::exists(target / name, ec))
            return (target / name).string() + " exists already; it is not replaced";

    // The files are made in a scratch directory of their own, removed again whatever happens.
    std::string pattern = (target / ".demo-data-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return "cannot make a scratch directory in " + dir;
    fs::path scratch = pattern;
    struct Remove {
        fs::path p;
        ~Remove() {
            std::error_code ignored;
            fs::remove_all(p, ignored);
        }
    } remove{scratch};

    CollectingErrors errors;
    {
        Session session(scratch);
        if (session.ec) return "cannot work in " + scratch.string() + ": " + session.ec.message();
        errors.Init();
        DictionaryInit(errors);
        session.dictionary = true;
        fw::FileManager& customers = AccessCustomer();
        PeopleFileManager& people = AccessPeople();
        // Opened for real now, so that both files are made even when one stays empty.
        if (RelateCustomer().Open() || RelatePeople().Open() || customers.EnsureFileOpen() ||
            people.EnsureFileOpen())
            return fail("the tables cannot be made", errors);
        DemoGenerator gen(options.seed);
        std::vector<std::int32_t> ids;
        for (int i = 0; i < options.customers; ++i) {
            if (customers.PrimeBuffer()) return fail("customer " + std::to_string(i + 1), errors);
            gen.customer(customers.record());
            if (customers.Insert()) return fail("customer " + std::to_string(i + 1), errors);
            ids.push_back(static_cast<std::int32_t>(customers.record().get("CUST:SysId").toLong()));
        }
        for (int i = 0; i < options.people; ++i) {
            if (people.PrimeBuffer()) return fail("person " + std::to_string(i + 1), errors);
            gen.person(people.record(), ids[gen.below(static_cast<std::uint32_t>(ids.size()))]);
            int field = 0;
            if (people.ValidateRecord(&field))
                return fail("person " + std::to_string(i + 1) + " fails field " + std::to_string(field),
                            errors);
            if (people.Insert()) return fail("person " + std::to_string(i + 1), errors);
        }
    }
    // Both tables are closed and whole: only now do they appear in the directory.
    for (const char* name : {"CUSTOMER.QNL", "PEOPLE.QNL"}) {
        if (!fs::exists(target / name, ec)) continue;
        return (target / name).string() + " appeared meanwhile; it is not replaced";
    }
    fs::rename(scratch / "CUSTOMER.QNL", target / "CUSTOMER.QNL", ec);
    if (ec) return "cannot move CUSTOMER.QNL into " + dir + ": " + ec.message();
    fs::rename(scratch / "PEOPLE.QNL", target / "PEOPLE.QNL", ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(target / "CUSTOMER.QNL", ignored);
        return "cannot move PEOPLE.QNL into " + dir + ": " + ec.message();
    }
    return {};
}

} // namespace sorv::app
