// The dictionary's declarations, People priming and validation, and its set-up and tear-down.
#include "app/dictionary.h"

#include "runtime/datetime.h"
#include "runtime/errors.h"
#include "runtime/inifile.h"

namespace sorv::app {

namespace {

KeyDecl key(std::string label, int field, std::uint8_t flags) {
    KeyDecl k;
    k.label = std::move(label);
    k.components = {{field, false}};
    k.flags = flags;
    return k;
}

// A threaded table of the store that the program creates when it is missing.
FileDecl tableFile(std::string label, std::string name, const TableStore& store) {
    FileDecl f;
    f.label = std::move(label);
    f.driver = store.driver;
    f.driverOptions = store.connection;
    f.name = std::move(name);
    f.attributes = fileattr::Create | fileattr::Thread;
    return f;
}

// Each relation manager kills its file manager first, then itself.
class DictionaryRelation : public fw::RelationManager {
public:
    void Kill() override {
        if (ME) ME->Kill();
        fw::RelationManager::Kill();
    }
};

fw::FileManager customerManager;
PeopleFileManager peopleManager;
DictionaryRelation customerRelation, peopleRelation;
fw::FileManager* customerRef = nullptr;
PeopleFileManager* peopleRef = nullptr;
fw::RelationManager* customerRelationRef = nullptr;
fw::RelationManager* peopleRelationRef = nullptr;

} // namespace

TableStore readTableStore(std::string_view iniFile) {
    TableStore s;
    s.driver = GETINI("Tables", "Driver", s.driver, iniFile);
    s.connection = GETINI("Tables", "Connection", "", iniFile);
    return s;
}

FileDecl makeCustomerFile(const TableStore& store) {
    FileDecl f = tableFile("Customer", "CUSTOMER", store);
    Layout l;
    l.add("CUST:SysId", FieldType::Long, 0, 0, "@n7");
    l.add("CUST:Company", FieldType::String, 30, 0, "@s30");
    l.add("CUST:Address1", FieldType::String, 20);
    l.add("CUST:Address2", FieldType::String, 20);
    l.add("CUST:City", FieldType::String, 20, 0, "@s20");
    l.add("CUST:PostalZipCode", FieldType::String, 12, 0, "@s12");
    l.add("CUST:Country", FieldType::String, 20, 0, "@s20");
    f.record.setLayout(l);
    f.keys.push_back(key("CUST:KeySysId", 0, keyflag::Opt | keyflag::NoCase | keyflag::Primary));
    f.keys.push_back(key("CUST:KeyCompany", 1, keyflag::Dup | keyflag::NoCase));
    f.keys.push_back(key("CUST:KeyCity", 4, keyflag::Dup | keyflag::NoCase));
    f.keys.push_back(key("CUST:KeyPostalZipCode", 5, keyflag::Dup | keyflag::NoCase));
    f.keys.push_back(key("CUST:KeyCountry", 6, keyflag::Dup | keyflag::NoCase));
    return f;
}

FileDecl makePeopleFile(const TableStore& store) {
    FileDecl f = tableFile("People", "PEOPLE", store);
    Layout l;
    l.add("PPL:SysId", FieldType::Long, 0, 0, "@n6");
    l.add("PPL:LastName", FieldType::String, 20, 0, "@s20");
    l.add("PPL:FirstName", FieldType::String, 20, 0, "@s20");
    l.add("PPL:Phone", FieldType::String, 10, 0, "@p###-###-####p");
    l.add("PPL:DoB", FieldType::Long, 0, 0, "@D17b");
    l.add("PPL:Male", FieldType::Byte);
    l.add("PPL:YearHired", FieldType::String, 4, 0, "@p####p");
    l.addDecimal("PPL:Salary", 7, 0, false, "@n9.2");
    f.record.setLayout(l);
    f.keys.push_back(key("PPL:SysIdKey", 0, keyflag::Dup | keyflag::Opt | keyflag::NoCase));
    return f;
}

ThreadedFile& Customer() {
    static ThreadedFile f(makeCustomerFile(readTableStore()));
    return f;
}

ThreadedFile& People() {
    static ThreadedFile f(makePeopleFile(readTableStore()));
    return f;
}

fw::ErrorManager& GlobalErrors() {
    static fw::ErrorManager e;
    return e;
}

fw::FileManager& AccessCustomer() {
    return *customerRef;
}
PeopleFileManager& AccessPeople() {
    return *peopleRef;
}
fw::RelationManager& RelateCustomer() {
    return *customerRelationRef;
}
fw::RelationManager& RelatePeople() {
    return *peopleRelationRef;
}

void PeopleFileManager::PrimeNewRecord() {
    Record& r = record();
    r.set("PPL:DoB", Value(static_cast<std::int64_t>(today())));
    r.set("PPL:YearHired", Value("1970"));
    r.set("PPL:Salary", Value(10000));
    fw::FileManager::PrimeNewRecord();
}

fw::Level PeopleFileManager::ValidateField(int field) {
    Record& r = record();
    switch (field) {
    case 1: {
        ERRORS->SetFieldName("People ID");
        fw::FileManager& customers = AccessCustomer();
        // The customer being edited (a Customer form on this thread) must survive the lookup.
        std::uint16_t saved = customers.SaveRecordBuffer();
        customers.record().set("CUST:SysId", r.get("PPL:SysId"));
        fw::Level found = customers.TryFetch(KeySysId);
        // Only a customer that is not there refuses the value; a read that failed (the server
        // out of reach) is told as what it is, and refuses the record all the same.
        const bool missing = found == fw::LevelNotify && errorCode() == err::RecordNotFound;
        if (found == fw::LevelNotify && !missing) customers.Raise(1); // a failed open told itself
        customers.RestoreSavedBuffer(saved, true);
        if (found == fw::LevelNone) return fw::LevelNone;
        if (!missing) return fw::LevelNotify;
        return RaiseWithText(14, "Customer");
    }
    case 7: {
        ERRORS->SetFieldName("Year of Hire");
        std::int64_t year = r.get("PPL:YearHired").toLong();
        if (year >= 1970 && year <= 2010) return fw::LevelNone;
        return RaiseWithText(16, "1970 and 2010");
    }
    case 8: {
        ERRORS->SetFieldName("Salary");
        Decimal salary = r.get("PPL:Salary").toDecimal();
        if (salary >= Decimal(10000) && salary <= Decimal(200000)) return fw::LevelNone;
        return RaiseWithText(16, "10000 and 200000");
    }
    default:
        return fw::LevelNone;
    }
}

void DictionaryInit(fw::ErrorManager& errors) {
    customerRef = &customerManager;
    peopleRef = &peopleManager;
    customerRelationRef = &customerRelation;
    peopleRelationRef = &peopleRelation;

    customerManager.Init(Customer(), errors, "Customer");
    customerManager.AddKey(KeySysId, "CUST:KeySysId", true);
    customerManager.AddKey(KeyCompany, "CUST:KeyCompany");
    customerManager.AddKey(KeyCity, "CUST:KeyCity");
    customerManager.AddKey(KeyPostalZipCode, "CUST:KeyPostalZipCode");
    customerManager.AddKey(KeyCountry, "CUST:KeyCountry");
    customerRelation.Init(customerManager);
    customerRelation.AddRelation(peopleRelation, fw::rule::None, fw::rule::None, SysIdKey);
    customerRelation.AddRelationLink(0, 0);

    peopleManager.Init(People(), errors, "People");
    peopleManager.AddKey(SysIdKey, "PPL:SysIdKey");
    peopleRelation.Init(peopleManager);
    peopleRelation.AddRelation(customerRelation);
    peopleRelation.AddRelationLink(0, 0);
}

void DictionaryKill() {
    if (customerRelationRef) customerRelationRef->Kill();
    if (peopleRelationRef) peopleRelationRef->Kill();
}

} // namespace sorv::app
