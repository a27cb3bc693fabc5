// The update forms and the customer selection list: the Customer form (its fields, and the
// customer's people in a list whose buttons run the People form), the People form (the person's
// customer found by company name, or chosen in the selection list), and the selection list.
// Each runs modally on the calling browse's thread with the request it is given and answers the
// response; the record to change or delete is in the table's buffer when it starts.
#pragma once

#include <cstdint>

namespace sorv::app {

extern const char* const UpdateCustomerResource;
extern const char* const UpdatePeopleResource;
extern const char* const SelectCustomerResource;

void registerUpdateForms();

// Request 1 insert, 2 change, 3 delete; answers ResponseDone or ResponseCancelled.
int UpdateCustomer(int request);
int UpdatePeople(int request);
// The customer selection list: ResponseDone with the chosen customer in the Customer buffer.
int SelectCustomer();

// What the forms do after a record is added (INSERTACTION: 2 close, 3 add another at once, 4 ask)
// and for a delete request (DELETEACTION: 2 confirm, 4 at once, both with no form shown; any other
// value shows the form). The window manager's defaults unless set before a form runs.
struct FormActions {
    std::uint8_t insert = 2;
    std::uint8_t remove = 2;
};
FormActions& formActions();

// The forms' controls, by number.
namespace customerform {
enum : int {
    Sheet = 1,
    GeneralTab,
    PeopleTab,
    CompanyPrompt = 10,
    Address1Prompt,
    Address2Prompt,
    CityPrompt,
    PostalZipCodePrompt,
    CountryPrompt,
    Company = 20,
    Address1,
    Address2,
    City,
    PostalZipCode,
    Country,
    PeopleList = 30,
    Insert,
    Change,
    Delete,
    Ok = 40,
    Cancel,
    Help,
};
}

namespace peopleform {
enum : int {
    CompanyPrompt = 10,
    Company,
    Lookup,
    CustomerPrompt,
    CustomerShown,
    SysId,
    LastNamePrompt,
    LastName,
    FirstNamePrompt,
    FirstName,
    PhonePrompt,
    Phone,
    DoBPrompt,
    DoB,
    Male,
    YearHiredPrompt,
    YearHired,
    SalaryPrompt,
    Salary,
    Ok = 40,
    Cancel,
    Help,
};
}

namespace selectcustomer {
enum : int { List = 1, Select };
}

} // namespace sorv::app
