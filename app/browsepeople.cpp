// The People browse: its window, the view of People joined to each person's customer, the one key
// order, the Sorvex object with its column orders and locators, and the sheet whose tab follows
// the sorted column and whose style two check boxes change.
#include "app/browsepeople.h"

#include "app/browselists.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/peoplelists.h"
#include "app/updateforms.h"
#include "framework/inimanager.h"
#include "framework/popupmanager.h"
#include "framework/relationviewprimary.h"
#include "framework/toolbarmanager.h"
#include "framework/windowplacement.h"
#include "windowing/desktop.h"

#include <memory>

namespace sorv::app {

const char* const BrowsePeopleResource = "sorvdemo$SORVD003|P1$QUICKWINDOW";

namespace {

using namespace peoplebrowse;

constexpr const char* Section = "BrowsePeople";
constexpr const char* ListName = "?Browse:1";
constexpr const char* DesignFormat =
    "80L(2)|M~Last Name~@s20@80L(2)|M~City~@s20@80L(2)|M~First Name~@s20@30L(2)|M~Gender~@s6@"
    "56L(2)|M~Telephone~@p###-###-####p@80L(2)|M~Country~@s20@49R(2)|M~Birthdate~C(0)@D17b@"
    "40L(2)|M~Year Hired~@p####p@48R(2)|M~Salary~C(0)@n10.2@";
constexpr std::uint32_t PopupMask = 0x201CFCFF;
constexpr int EnterKey = 0x0D;

win::WindowSpec peopleBrowseSpec() {
    win::WindowSpec d;
    d.kind = win::WindowKind::MdiChild;
    d.caption = "Browse the People File";
    d.resizable = true;
    d.at = {8, 8, 500, 214};
    d.add("SHEET", Sheet, {4, 4, 492, 186});
    auto tab = [&](int number, const char* text, const char* tip) {
        win::ControlSpec& t = d.add("TAB", number, {}, text);
        t.parent = Sheet;
        t.tip = tip;
    };
    tab(Tab1, "Tab 1", "Default TAB for all Columns");
    tab(Tab2, "Tab 2", "Active TAB for LastName Only");
    tab(Tab3, "Tab 3", "Active TAB for Date of Birth");
    d.add("PROMPT", LocatorPrompt, {8, 174, 60, 10}, "Last Name:").parent = Tab2;
    d.add("STRING", LocatorText, {70, 174, 120, 10}).parent = Tab2;
    win::ControlSpec& list = d.add("LIST", List, {8, 22, 484, 148}, "Browsing Records");
    list.format = DesignFormat;
    list.vscroll = true;
    list.hscroll = true;
    d.add("CHECK", WizardSheet, {8, 196, 68, 12}, "Wizard Sheet");
    d.add("CHECK", NoSheet, {80, 196, 60, 12}, "No Sheet");
    d.add("BUTTON", Change, {392, 194, 50, 14}, "&Change");
    d.add("BUTTON", Delete, {446, 194, 50, 14}, "&Delete");
    return d;
}

// The People browse's columns, each with its tab.
PeopleListDesign peopleBrowseDesign() {
    PeopleListDesign d;
    for (const char* field :
         {"PPL:LastName", "CUST:City", "PPL:FirstName", "Gender", "PPL:Phone", "CUST:Country", "PPL:DoB",
          "PPL:YearHired", "PPL:Salary", "CUST:Company", "PPL:SysId", "CUST:SysId"}) {
        bx::ColumnRow r = peopleColumn(field);
        r.tab = r.field == "PPL:LastName" ? Tab2 : r.field == "PPL:DoB" ? Tab3 : Tab1;
        d.columns.push_back(r);
    }
    // Year Hired and Company get no locator.
    d.locators = {{"PPL:LastName", 'I'}, {"PPL:FirstName", 'I'}, {"PPL:DoB", 'I'},   {"CUST:City", 'F'},
                  {"CUST:Country", 'F'}, {"Gender", 'S'},        {"PPL:Phone", 'S'}, {"PPL:Salary", 'S'}};
    d.lastNameControl = LocatorText;
    return d;
}

// The list's Sorvex object: sorting on a column brings that column's tab forward.
class BrowsePeopleSorvex : public PeopleSorvex {
public:
    BrowsePeopleSorvex() : PeopleSorvex(peopleBrowseDesign()) {}
    void ReportSortField(const bx::SorvexColumn& column) override {
        const int tab = column.TABCONTROL ? column.TABCONTROL : Tab1;
        W->setProperty(Sheet, win::prop::Selected, std::to_string(tab - Tab1 + 1));
    }
};

class PeopleWindow : public fw::WindowManager {
public:
    PeopleWindow() : queue(peopleListLayout(peopleBrowseDesign().columns)) {}

    fw::Level Init() override {
        fw::Level level = openProcedureWindow(*this, BrowsePeopleResource);
        if (level != fw::LevelNone) return level;
        if (!relations_.open(RelateCustomer()) || !relations_.open(RelatePeople())) return fw::LevelFatal;
        Record& people = People().get().record;
        Record& customer = Customer().get().record;
        // People, each with the city, country and company of its customer.
        view.open(RelatePeople());
        view.join(AccessCustomer(), KeySysId, "PPL:SysId");
        browse.Init(List, queue, queue.field("Q:Position"), view.view(), view.primary(), *this);

        // Order 2: the key's, with its long step and no locator.
        browse.AddSortOrder(SysIdKey);
        browse.SetThumb(longStep());

        browse.list.init(sorvex, *this, browse, queue, List, PopupMask);
        sorvex.bindColumns(browse, people, &customer, queue);

        popup.Init(WINDOW);
        browse.POPUP = &popup;
        browse.CHANGECONTROL = Change;
        browse.DELETECONTROL = Delete;
        browse.ASKPROCEDURE = 1;
        AddItem(&toolbar);
        browse.AddToolbarTarget();
        AddItem(&browse);

        sorvex.RestoreLayout(ListName, Section);
        // A list stored sorted shows its column's tab again.
        bx::SorvexColumn sorted;
        if (browse.list.viewOrder && sorvex.displayedColumn(browse.list.sequenceNbr, sorted))
            sorvex.ReportSortField(sorted);
        fw::WindowPlacement place(WINDOW);
        fw::iniManager().Fetch(Section, place);
        RegisterAlertKeys();
        browse.list.finish(sorvex, browse);
        browse.AddListAlert(EnterKey);
        return fw::LevelNone;
    }

    void Kill() override {
        if (DEAD) return;
        if (OPENED && WINDOW.isOpen()) {
            browse.list.save(sorvex, ListName, Section);
            fw::WindowPlacement place(WINDOW);
            fw::iniManager().Update(Section, place);
        }
        sorvex.Kill();
        WindowManager::Kill();
        view.close();
        relations_.close();
    }

    fw::Level HandleEvent() override {
        if (sorvex.TakeListEvent(EVENT) == fw::LevelNotify) return fw::LevelNotify;
        // Enter on a row changes it, as a double click does.
        if (EVENT.control == List && event() == fw::wmevent::AlertKey && keyCode() == EnterKey) {
            if (browse.rows() > 0) WINDOW.post(win::event::Accepted, Change);
            return fw::LevelNotify;
        }
        if (event() == fw::wmevent::Accepted && (EVENT.control == WizardSheet || EVENT.control == NoSheet)) {
            // The sheet's style changes; its selected tab stays.
            const bool on = WINDOW.property(EVENT.control, win::prop::Text) == "1";
            WINDOW.setProperty(Sheet,
                               EVENT.control == WizardSheet ? win::prop::SheetWizard : win::prop::NoSheet,
                               on ? "1" : "0");
            WINDOW.display();
            return fw::LevelNotify;
        }
        return WindowManager::HandleEvent();
    }

    // Change and Delete run the People form.
    int Run(int, int request) override { return UpdatePeople(request); }
    using WindowManager::Run;

    PeopleBrowse browse;
    BrowsePeopleSorvex sorvex;
    Queue queue;
    ListView view;
    fw::PopupManager popup;
    fw::ToolbarManager toolbar;

private:
    OpenRelations relations_;
};

} // namespace

void registerBrowsePeople() {
    win::registerWindowResource(BrowsePeopleResource, peopleBrowseSpec);
}

void BrowsePeople() {
    PeopleWindow window;
    window.Run();
}

} // namespace sorv::app
