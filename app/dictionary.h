// The data dictionary: the Customer and People tables (threaded: every procedure thread has its own
// record buffers and open files), their keys and relation, the global error manager, and the four
// global file and relation managers through which every procedure reaches the tables.
#pragma once
#include "data/filedecl.h"
#include "framework/errormanager.h"
#include "framework/filemanager.h"
#include "framework/relationmanager.h"

#include <string>
#include <string_view>

namespace sorv::app {

inline constexpr std::uint32_t CustomerRecordSize = 126;
inline constexpr std::uint32_t PeopleRecordSize = 67;

// Key numbers in declaration order.
enum CustomerKey { KeySysId = 0, KeyCompany, KeyCity, KeyPostalZipCode, KeyCountry };
enum PeopleKey { SysIdKey = 0 };

// Where the tables live: section "Tables" of "sorvdemo.INI" names the driver ("Driver", the
// native files by default) and, for a server, its connection ("Connection", a libpq connection
// string such as "host=db.example dbname=sorvdemo"). Nothing else of the program knows.
struct TableStore {
    std::string driver = "QUARNELL";
    std::string connection;
};
TableStore readTableStore(std::string_view iniFile = "sorvdemo.INI");

// Closed declarations as the dictionary gives them (file names "CUSTOMER" and "PEOPLE").
FileDecl makeCustomerFile(const TableStore& store = {});
FileDecl makePeopleFile(const TableStore& store = {});

// The program's tables, declared on first use in the store "sorvdemo.INI" names then.
ThreadedFile& Customer();
ThreadedFile& People();

// The People file manager: priming and server-side field validation.
class PeopleFileManager : public fw::FileManager {
public:
    void PrimeNewRecord() override;
    fw::Level ValidateField(int field) override;
};

fw::ErrorManager& GlobalErrors();
fw::FileManager& AccessCustomer();
PeopleFileManager& AccessPeople();
fw::RelationManager& RelateCustomer();
fw::RelationManager& RelatePeople();

// Set-up and tear-down in the program entry's order; the error manager is given, so that tools
// and tests can bring their own.
void DictionaryInit(fw::ErrorManager& errors);
void DictionaryKill();

} // namespace sorv::app
