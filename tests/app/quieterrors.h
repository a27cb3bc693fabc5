// An error manager for tests of the dictionary: it shows nothing and keeps the numbers of the
// messages raised.
#pragma once
#include "framework/errormanager.h"
#include "windowing/desktop.h"

#include <string>
#include <vector>

namespace sorvtest {

class QuietErrors : public sorv::fw::ErrorManager {
public:
    std::vector<int> raised;

protected:
    int ShowBox(const std::string&, const std::string&, int, int, int) override {
        raised.push_back(ERRORS[static_cast<std::size_t>(current())].ID);
        return sorv::win::button::Ok;
    }
    void Halt(const std::string&) override {}
};

} // namespace sorvtest
