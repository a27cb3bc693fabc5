// The Customer and People forms and the customer selection list: their designs, the opening
// steps they share, the Customer form's list of the customer's people, and the People form's
// customer lookup and field checks.
#include "app/updateforms.h"

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/peoplelists.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "framework/browsemanager.h"
#include "framework/inimanager.h"
#include "framework/locators.h"
#include "framework/popupmanager.h"
#include "framework/relationviewprimary.h"
#include "framework/steps.h"
#include "framework/toolbarmanager.h"
#include "framework/windowplacement.h"
#include "runtime/queue.h"
#include "windowing/desktop.h"
#include "windowing/help.h"

#include <Qt>
#include <memory>

namespace sorv::app {

const char* const UpdateCustomerResource = "sorvdemo$SORVD004|P1$QUICKWINDOW";
const char* const UpdatePeopleResource = "sorvdemo$SORVD006|P1$QUICKWINDOW";
const char* const SelectCustomerResource = "sorvdemo$SORVD005|P1$QUICKWINDOW";

namespace {

using fw::Level;
using fw::LevelFatal;
using fw::LevelNone;
using fw::LevelNotify;

// The Sorvex object of the Customer form's list of people.
constexpr const char* PeopleListName = "?Browse:2";
constexpr std::uint32_t PeopleMask = 0x201FFEF7;

// Ctrl+' gives a field back the value it had when the record was saved last.
const int DittoKey = (Qt::CTRL | Qt::Key_Apostrophe).toCombined();

// ---- designs ----

win::ControlSpec& entry(win::WindowSpec& d, int number, win::Rect at, const FieldRef& use,
                        const char* picture, const char* tip, int parent = 0) {
    win::ControlSpec& e = d.add("ENTRY", number, at);
    e.use = use;
    e.picture = picture;
    e.tip = tip;
    e.parent = parent;
    return e;
}

win::ControlSpec& prompt(win::WindowSpec& d, int number, win::Rect at, const char* text, int parent = 0) {
    win::ControlSpec& p = d.add("PROMPT", number, at, text);
    p.parent = parent;
    return p;
}

win::WindowSpec customerFormSpec() {
    using namespace customerform;
    Record& c = Customer().get().record;
    win::WindowSpec d;
    d.kind = win::WindowKind::MdiChild;
    d.caption = "Update the Customer File";
    d.at = {-1, -1, 300, 204};
    d.resizable = false;
    d.modal = true;
    d.add("SHEET", Sheet, {4, 4, 292, 174});
    d.add("TAB", GeneralTab, {0, 0, 0, 0}, "General").parent = Sheet;
    d.add("TAB", PeopleTab, {0, 0, 0, 0}, "People").parent = Sheet;
    struct Row {
        int prompt, entry;
        const char *text, *field, *picture, *tip;
        int width;
    } rows[] = {
        {CompanyPrompt, Company, "&Company:", "CUST:Company", "@s30", "Company Name", 124},
        {Address1Prompt, Address1, "&Address 1:", "CUST:Address1", "@s20", "Address Line 1", 84},
        {Address2Prompt, Address2, "&Address 2:", "CUST:Address2", "@s20", "Address Line 2", 84},
        {CityPrompt, City, "&City:", "CUST:City", "@s20", "City", 84},
        {PostalZipCodePrompt, PostalZipCode, "&Postal Zip Code:", "CUST:PostalZipCode", "@s12",
         "Postal/Zip Code", 52},
        {CountryPrompt, Country, " &Country:", "CUST:Country", "@s20", "Country", 84},
    };
    int y = 26; // below the tabs
    for (const Row& r : rows) {
        prompt(d, r.prompt, {8, y + 2, 64, 10}, r.text, GeneralTab);
        entry(d, r.entry, {76, y, r.width, 12}, c.ref(r.field), r.picture, r.tip, GeneralTab);
        y += 18;
    }
    win::ControlSpec& list = d.add("LIST", PeopleList, {8, 22, 276, 110}, "Browsing Records");
    list.parent = PeopleTab;
    list.vscroll = true;
    list.format = "80L(2)|M~Last Name~@s20@80L(2)|M~First Name~@s20@56L(2)|M~Telephone~@p###-###-####p@"
                  "80R(2)|M~Birthdate~C(0)@D17b@30L(2)|M~Gender~C(0)@s6@44L(2)|M~Year Hired~@p####p@"
                  "36R(2)|M~Salary~C(0)@n7@";
    d.add("BUTTON", Insert, {138, 136, 46, 14}, "&Insert").parent = PeopleTab;
    d.add("BUTTON", Change, {188, 136, 46, 14}, "&Change").parent = PeopleTab;
    d.add("BUTTON", Delete, {238, 136, 46, 14}, "&Delete").parent = PeopleTab;
    d.add("BUTTON", Ok, {150, 184, 45, 14}, "OK").defaultButton = true;
    d.add("BUTTON", Cancel, {200, 184, 45, 14}, "Cancel");
    d.add("BUTTON", Help, {250, 184, 45, 14}, "Help");
    return d;
}

// The People form's own variable: the company typed or chosen.
Record& companyVariable() {
    thread_local Record r([] {
        Layout l;
        l.add("LOC:Company", FieldType::String, 30);
        return l;
    }());
    return r;
}

win::WindowSpec peopleFormSpec() {
    using namespace peopleform;
    Record& p = People().get().record;
    Record& c = Customer().get().record;
    win::WindowSpec d;
    d.kind = win::WindowKind::MdiChild;
    d.caption = "Update the People File";
    d.at = {-1, -1, 240, 196};
    d.resizable = false;
    d.modal = true;
    prompt(d, CompanyPrompt, {8, 10, 56, 10}, "Company:");
    entry(d, Company, {68, 8, 124, 12}, companyVariable().ref("LOC:Company"), "@s20", "");
    win::ControlSpec& lookup = d.add("BUTTON", Lookup, {196, 8, 16, 12}, "...");
    lookup.tip = "Select a customer";
    prompt(d, CustomerPrompt, {8, 26, 56, 10}, "Customer:");
    win::ControlSpec& shown = d.add("STRING", CustomerShown, {68, 26, 124, 10});
    shown.use = c.ref("CUST:Company");
    shown.picture = "@s30";
    win::ControlSpec& id = d.add("STRING", SysId, {196, 26, 36, 10});
    id.use = p.ref("PPL:SysId");
    id.picture = "@n7";
    struct Row {
        int prompt, entry;
        const char *text, *field, *picture, *tip;
        int width;
    } rows[] = {
        {LastNamePrompt, LastName, "Last Name:", "PPL:LastName", "@s20", "Last Name", 84},
        {FirstNamePrompt, FirstName, "First Name:", "PPL:FirstName", "@s20", "First Name", 84},
        {PhonePrompt, Phone, "Phone:", "PPL:Phone", "@p###-###-####p", "TelePhone", 60},
        {DoBPrompt, DoB, "Do B:", "PPL:DoB", "@D17b", "Date of Birth", 52},
    };
    int y = 44;
    for (const Row& r : rows) {
        prompt(d, r.prompt, {8, y + 2, 56, 10}, r.text);
        entry(d, r.entry, {68, y, r.width, 12}, p.ref(r.field), r.picture, r.tip);
        y += 18;
    }
    win::ControlSpec& male = d.add("CHECK", Male, {68, y, 60, 12}, "Male");
    male.use = p.ref("PPL:Male");
    male.tip = "Gender";
    y += 18;
    prompt(d, YearHiredPrompt, {8, y + 2, 56, 10}, "Year Hired:");
    entry(d, YearHired, {68, y, 28, 12}, p.ref("PPL:YearHired"), "@p####p", "Year of Hire");
    y += 18;
    prompt(d, SalaryPrompt, {8, y + 2, 56, 10}, "Salary:");
    entry(d, Salary, {68, y, 40, 12}, p.ref("PPL:Salary"), "@n7", "Salary");
    d.add("BUTTON", Ok, {90, 176, 45, 14}, "OK").defaultButton = true;
    d.add("BUTTON", Cancel, {140, 176, 45, 14}, "Cancel");
    d.add("BUTTON", Help, {190, 176, 45, 14}, "Help");
    return d;
}

win::WindowSpec selectCustomerSpec() {
    using namespace selectcustomer;
    win::WindowSpec d;
    d.kind = win::WindowKind::MdiChild;
    d.caption = "Select Customer - Multiple Formats one per TAB";
    d.at = {-1, -1, 344, 150};
    d.modal = true;
    win::ControlSpec& list = d.add("LIST", List, {4, 4, 336, 120}, "Browsing Records");
    list.vscroll = true;
    list.format = "28R(1)|M~Sys Id~L(2)@n7@80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@"
                  "64L(2)|M~Postal Zip Code~@s12@";
    d.add("BUTTON", Select, {292, 130, 48, 14}, "&Select");
    return d;
}

// ---- shared steps ----

// The steps every form opens with: those of the program's windows, the files open and the
// request prepared before the window shows (a delete that needs no form shows none).
Level openForm(fw::WindowManager& form, fw::RelationManager& primary, const char* resource, int firstField) {
    form.REQUEST = GlobalRequest;
    if (Level l = form.fw::WindowManager::Init()) return l;
    form.INSERTACTION = formActions().insert;
    form.DELETEACTION = formActions().remove;
    form.FIRSTFIELD = firstField;
    form.VCRREQUEST = &GlobalToolbarRequest;
    form.ERRORS = &GlobalErrors();
    GlobalRequest = 0;
    GlobalResponse = 0;
    form.PRIMARY = &primary;
    if (Level l = form.PrepareUpdate()) return l;
    if (!form.WINDOW.open(resource)) return LevelFatal;
    form.OPENED = 1;
    return LevelNone;
}

void keepPlace(fw::WindowManager& w, const char* section, bool fetch) {
    fw::WindowPlacement place(w.WINDOW);
    if (fetch)
        fw::iniManager().Fetch(section, place);
    else if (w.OPENED)
        fw::iniManager().Update(section, place);
}

// The frame's toolbar drives the form while it is the active window.
struct FormToolbar {
    fw::ToolbarManager manager;
    fw::FormToolbarTarget target;
    void join(fw::WindowManager& w) {
        w.AddItem(&manager);
        w.AddItem(&target);
    }
};

// A view over the calling thread's declaration of a table.
struct TableView {
    explicit TableView(FileDecl& file) : table(file), view(table, ViewTraceSettings{}) {}
    FileViewTable table;
    View view;
};

// ---- the Customer form's people ----

PeopleListDesign customerPeopleDesign() {
    PeopleListDesign d;
    for (const char* field : {"PPL:LastName", "PPL:FirstName", "PPL:Phone", "PPL:DoB", "Gender",
                              "PPL:YearHired", "PPL:Salary", "PPL:SysId"}) {
        bx::ColumnRow r = peopleColumn(field);
        if (r.field == "PPL:Salary") {
            r.picture = "@n7";
            r.width = 36;
        }
        d.columns.push_back(r);
    }
    d.locators = {{"PPL:Phone", 'I'}, {"PPL:LastName", 'S'},  {"PPL:FirstName", 'S'},
                  {"PPL:DoB", 'S'},   {"PPL:YearHired", 'S'}, {"PPL:Salary", 'S'}};
    d.birthMonths = true;
    return d;
}

class CustomerForm : public fw::WindowManager {
public:
    Level Init() override {
        using namespace customerform;
        RelateCustomer().Open();
        RelatePeople().Open();
        filesOpen_ = true;
        if (Level l = openForm(*this, RelateCustomer(), UpdateCustomerResource, Company)) return l;
        if (REQUEST == fw::RequestInsert) WINDOW.setCaption("Adding a Customer Record");
        if (REQUEST == fw::RequestChange) WINDOW.setCaption("Changing a Customer Record");
        keepPlace(*this, "UpdateCustomer", true);
        OKCONTROL = Ok;
        AddItem(Cancel, fw::ResponseCancelled);
        HISTORYKEY = DittoKey;
        toolbar_.join(*this);

        // The customer's people: those whose PPL:SysId is this customer's, in every order.
        Record& ppl = People().get().record;
        Record& cust = Customer().get().record;
        people_ = std::make_unique<TableView>(AccessPeople().file());
        primary_ = std::make_unique<fw::RelationViewPrimary>(RelatePeople());
        queue_ = std::make_unique<Queue>(peopleListLayout(sorvex_.design().columns));
        browse_.Init(PeopleList, *queue_, queue_->field("Q:Position"), people_->view, *primary_, *this);
        browse_.AddSortOrder(SysIdKey);
        browse_.AddRange(ppl.ref("PPL:SysId"), cust.ref("CUST:SysId"));
        browse_.list.init(sorvex_, *this, browse_, *queue_, PeopleList, PeopleMask);
        sorvex_.bindColumns(browse_, ppl, nullptr, *queue_, cust.ref("CUST:SysId"));
        popup_.Init(WINDOW);
        browse_.POPUP = &popup_;
        browse_.INSERTCONTROL = Insert;
        browse_.CHANGECONTROL = Change;
        browse_.DELETECONTROL = Delete;
        browse_.ASKPROCEDURE = 1;
        AddItem(&browse_);
        sorvex_.RestoreLayout(PeopleListName, "UpdateCustomer");

        for (int e = Company; e <= Country; ++e)
            AddFieldHistory(e, cust.ref(static_cast<int>(e - Company + 1)));
        RegisterAlertKeys();
        browse_.list.finish(sorvex_, browse_);
        return LevelNone;
    }
    void Kill() override {
        if (DEAD) return;
        if (OPENED && WINDOW.isOpen()) browse_.list.save(sorvex_, PeopleListName, "UpdateCustomer");
        keepPlace(*this, "UpdateCustomer", false);
        sorvex_.Kill();
        WindowManager::Kill();
        if (filesOpen_) {
            RelatePeople().Close();
            RelateCustomer().Close();
        }
    }
    Level HandleAccepted() override {
        if (field() == customerform::Help) {
            win::showWindowHelp(WINDOW.id());
            return LevelNotify;
        }
        return WindowManager::HandleAccepted();
    }
    // The People tab shows the list: it loads when it is first seen.
    Level HandleEvent() override {
        if (sorvex_.TakeListEvent(EVENT) == LevelNotify) return LevelNotify;
        if (field() == customerform::Sheet && event() == fw::wmevent::NewSelection) {
            Reset(true);
            return LevelNotify;
        }
        return WindowManager::HandleEvent();
    }
    // The list's buttons run the People form.
    int Run(int, int request) override { return UpdatePeople(request); }
    using WindowManager::Run;

private:
    bool filesOpen_ = false;
    FormToolbar toolbar_;
    std::unique_ptr<TableView> people_;
    std::unique_ptr<fw::RelationViewPrimary> primary_;
    std::unique_ptr<Queue> queue_;
    PeopleBrowse browse_;
    PeopleSorvex sorvex_{customerPeopleDesign()};
    fw::PopupManager popup_;
};

// ---- the People form ----

class PeopleForm : public fw::WindowManager {
public:
    Level Init() override {
        using namespace peopleform;
        RelateCustomer().Open();
        RelatePeople().Open();
        filesOpen_ = true;
        // The lookup reads the Customer table into its buffer: a Customer form below this one
        // gets its record back when this form ends.
        customerKept_ = AccessCustomer().SaveRecordBuffer();
        if (Level l = openForm(*this, RelatePeople(), UpdatePeopleResource, LastName)) return l;
        if (REQUEST == fw::RequestInsert) WINDOW.setCaption("Adding a People Record");
        if (REQUEST == fw::RequestChange) WINDOW.setCaption("Changing a People Record");
        keepPlace(*this, "UpdatePeople", true);
        OKCONTROL = Ok;
        AddItem(Cancel, fw::ResponseCancelled);
        HISTORYKEY = DittoKey;
        toolbar_.join(*this);
        showLinkedCustomer();
        Record& ppl = People().get().record;
        const std::pair<int, const char*> history[] = {
            {LastName, "PPL:LastName"}, {FirstName, "PPL:FirstName"}, {Phone, "PPL:Phone"},  {DoB, "PPL:DoB"},
            {Male, "PPL:Male"},         {YearHired, "PPL:YearHired"}, {Salary, "PPL:Salary"}};
        for (auto& [control, name] : history) AddFieldHistory(control, ppl.ref(name));
        RegisterAlertKeys();
        WINDOW.display();
        return LevelNone;
    }
    void Kill() override {
        if (DEAD) return;
        keepPlace(*this, "UpdatePeople", false);
        WindowManager::Kill();
        AccessCustomer().RestoreSavedBuffer(customerKept_, true);
        if (filesOpen_) {
            RelatePeople().Close();
            RelateCustomer().Close();
        }
    }
    Level HandleAccepted() override {
        using namespace peopleform;
        switch (field()) {
        case Company:
            return companyAccepted();
        case Lookup:
            chooseCustomer(nullptr);
            return LevelNotify;
        case YearHired:
            return checked(YearHired, 7);
        case Salary:
            return checked(Salary, 8);
        case Help:
            win::showWindowHelp(WINDOW.id());
            return LevelNotify;
        default:
            return WindowManager::HandleAccepted();
        }
    }
    // The customer check names the company entry, where the customer is chosen.
    bool ValidateForm() override {
        if (int refused = WINDOW.refusedControl()) {
            WINDOW.post(win::event::Rejected, refused);
            return false;
        }
        int failed = 0;
        if (AccessPeople().ValidateRecord(&failed) == LevelNone) return true;
        int control =
            failed == 1 ? peopleform::Company : WINDOW.controlOf(AccessPeople().record().ref(failed - 1));
        WINDOW.select(control ? control : peopleform::Company);
        return false;
    }

private:
    FieldRef company() { return companyVariable().ref("LOC:Company"); }

    // The customer the person belongs to, shown with its company.
    void showLinkedCustomer() {
        fw::FileManager& customers = AccessCustomer();
        customers.record().clear();
        customers.record().set("CUST:SysId", AccessPeople().record().get("PPL:SysId"));
        if (customers.TryFetch(KeySysId) != LevelNone) customers.record().clear();
        company().set(customers.record().get("CUST:Company"));
    }

    // The customer found or chosen becomes the person's.
    void link() {
        fw::FileManager& customers = AccessCustomer();
        company().set(customers.record().get("CUST:Company"));
        AccessPeople().record().set("PPL:SysId", customers.record().get("CUST:SysId"));
        WINDOW.display();
    }

    Level companyAccepted() {
        const std::string typed(clipRight(company().get().toText()));
        if (typed.empty()) return LevelNone;
        fw::FileManager& customers = AccessCustomer();
        std::uint16_t before = customers.SaveRecordBuffer();
        customers.record().set("CUST:Company", Value(typed));
        if (customers.TryFetch(KeyCompany) == LevelNone) {
            customers.RestoreSavedBuffer(before, false);
            link();
            return LevelNone;
        }
        // No such company: the selection list opens at the text typed.
        chooseCustomer(&before);
        return LevelNotify;
    }

    // Runs the selection list; a cancelled one leaves the customer as it was (`before`, when the
    // caller saved it) and the company entry selected again.
    void chooseCustomer(const std::uint16_t* before) {
        fw::FileManager& customers = AccessCustomer();
        std::uint16_t kept = before ? *before : customers.SaveRecordBuffer();
        if (SelectCustomer() == fw::ResponseDone) {
            customers.RestoreSavedBuffer(kept, false);
            link();
            return;
        }
        customers.RestoreSavedBuffer(kept, true);
        company().set(customers.record().get("CUST:Company"));
        WINDOW.display();
        WINDOW.select(peopleform::Company);
    }

    // The file manager's check of one field as it is accepted; a refused field is selected again.
    Level checked(int control, int fieldNumber) {
        if (AccessPeople().ValidateField(fieldNumber) == LevelNone) return LevelNone;
        WINDOW.select(control);
        return LevelNotify;
    }

    bool filesOpen_ = false;
    std::uint16_t customerKept_ = 0;
    FormToolbar toolbar_;
};

// ---- the selection list ----

Layout selectionRow() {
    Layout l;
    l.add("Q:SysId", FieldType::Long);
    l.add("Q:Company", FieldType::String, 30);
    l.add("Q:City", FieldType::String, 20);
    l.add("Q:Country", FieldType::String, 20);
    l.add("Q:PostalZipCode", FieldType::String, 12);
    l.add("Q:Position", FieldType::String, 512);
    return l;
}

class CustomerSelection : public fw::WindowManager {
public:
    Level Init() override {
        using namespace selectcustomer;
        REQUEST = fw::RequestSelect;
        if (Level l = WindowManager::Init()) return l;
        ERRORS = &GlobalErrors();
        RelateCustomer().Open();
        fileOpen_ = true;
        if (!WINDOW.open(SelectCustomerResource)) return LevelFatal;
        OPENED = 1;
        keepPlace(*this, "SelectParent", true);
        Record& cust = Customer().get().record;
        customers_ = std::make_unique<TableView>(AccessCustomer().file());
        primary_ = std::make_unique<fw::RelationViewPrimary>(RelateCustomer());
        queue_ = std::make_unique<Queue>(selectionRow());
        browse_.Init(List, *queue_, queue_->field("Q:Position"), customers_->view, *primary_, *this);
        const char* fields[][2] = {{"Q:SysId", "CUST:SysId"},
                                   {"Q:Company", "CUST:Company"},
                                   {"Q:City", "CUST:City"},
                                   {"Q:Country", "CUST:Country"},
                                   {"Q:PostalZipCode", "CUST:PostalZipCode"}};
        for (auto& f : fields) browse_.AddField(queue_->field(f[0]), cust.ref(f[1]));
        browse_.AddSortOrder(KeyCompany);
        auto step = std::make_unique<fw::StringStep>();
        step->Init(fw::stepctl::Letters, fw::StepBetweenLimits);
        browse_.SetThumb(std::move(step));
        locator_.Init(0, cust.ref("CUST:Company"), true, browse_);
        browse_.AddLocator(&locator_);
        browse_.SELECTCONTROL = Select;
        AddItem(&browse_);
        RegisterAlertKeys();
        return LevelNone;
    }
    void Kill() override {
        if (DEAD) return;
        keepPlace(*this, "SelectParent", false);
        WindowManager::Kill();
        if (fileOpen_) RelateCustomer().Close();
    }

private:
    bool fileOpen_ = false;
    std::unique_ptr<TableView> customers_;
    std::unique_ptr<fw::RelationViewPrimary> primary_;
    std::unique_ptr<Queue> queue_;
    fw::BrowseManager browse_;
    fw::StepLocator locator_;
};

} // namespace

FormActions& formActions() {
    static FormActions actions;
    return actions;
}

void registerUpdateForms() {
    win::registerWindowResource(UpdateCustomerResource, customerFormSpec);
    win::registerWindowResource(UpdatePeopleResource, peopleFormSpec);
    win::registerWindowResource(SelectCustomerResource, selectCustomerSpec);
}

int UpdateCustomer(int request) {
    GlobalRequest = static_cast<std::uint8_t>(request);
    return CustomerForm().Run();
}

int UpdatePeople(int request) {
    GlobalRequest = static_cast<std::uint8_t>(request);
    return PeopleForm().Run();
}

int SelectCustomer() {
    return CustomerSelection().Run();
}

} // namespace sorv::app
