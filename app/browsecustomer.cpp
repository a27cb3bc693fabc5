// The Customer browse: its window, its sort orders with their steps and locators, the Sorvex
// object over its list with one format slot per tab, and the order chosen on every reset (a
// header click overrides the tab until the tab changes).
#include "app/browsecustomer.h"

#include "app/browselists.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/updateforms.h"
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "data/view.h"
#include "framework/browsemanager.h"
#include "framework/inimanager.h"
#include "framework/locators.h"
#include "framework/popupmanager.h"
#include "framework/relationviewprimary.h"
#include "framework/steps.h"
#include "framework/toolbarmanager.h"
#include "framework/windowplacement.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <algorithm>
#include <array>
#include <memory>

namespace sorv::app {

const char* const BrowseCustomerResource = "sorvdemo$SORVD002|P1$QUICKWINDOW";

namespace {

using namespace customerbrowse;

constexpr const char* Caption = "Customers - Multiple Formats one per TAB";
constexpr const char* Section = "BrowseCustomer";
constexpr const char* ListName = "?Browse:1";
constexpr const char* FormatChoiceKey = "FormatChoice-?Browse:1";
constexpr const char* DesignFormat = "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@"
                                     "64L(2)|M~Postal Zip Code~@s12@";
constexpr std::uint32_t PopupMask = 0x3FFFFFFF;

// The list's key code of Enter.
constexpr int EnterKey = 0x0D;

// The tabs in sheet order, with the key each one orders by.
struct TabOrder {
    int control;
    int key;
};
constexpr std::array<TabOrder, 5> Tabs{{{TabSysId, KeySysId},
                                        {TabCompany, KeyCompany},
                                        {TabCity, KeyCity},
                                        {TabPostalZipCode, KeyPostalZipCode},
                                        {TabCountry, KeyCountry}}};

win::WindowSpec customerBrowseSpec() {
    win::WindowSpec design;
    design.kind = win::WindowKind::MdiChild;
    design.caption = Caption;
    design.resizable = true;
    design.at = {16, 12, 372, 198};
    design.add("SHEET", Sheet, {4, 4, 364, 170});
    const char* tabTexts[] = {"SysId", "Company", "City", "Postal/Zip Code", "Country"};
    for (std::size_t i = 0; i < Tabs.size(); ++i)
        design.add("TAB", Tabs[i].control, {}, tabTexts[i]).parent = Sheet;
    win::ControlSpec& list = design.add("LIST", List, {8, 22, 356, 146}, "Browsing Records");
    list.format = DesignFormat;
    list.vscroll = true;
    design.add("BUTTON", Insert, {150, 178, 50, 14}, "&Insert");
    design.add("BUTTON", Change, {204, 178, 50, 14}, "&Change");
    design.add("BUTTON", Delete, {258, 178, 50, 14}, "&Delete");
    design.add("BUTTON", Select, {312, 178, 50, 14}, "&Select");
    return design;
}

// The list's queue: the four shown fields, the customer number and the view position.
Layout listLayout() {
    Layout l;
    l.add("BRW1:CUST:Company", FieldType::String, 30);
    l.add("BRW1:CUST:City", FieldType::String, 20);
    l.add("BRW1:CUST:Country", FieldType::String, 20);
    l.add("BRW1:CUST:PostalZipCode", FieldType::String, 12);
    l.add("BRW1:CUST:SysId", FieldType::Long);
    l.add("BRW1:Position", FieldType::String, 512);
    return l;
}

const std::string& columnTableBytes() {
    static const std::string t = bx::columnTable({
        {"CUST:Company", 120, "Company", "@s30", "Company Name", 'L', true, false, false, 1, 0, false, true,
         true, 'I'},
        {"CUST:City", 80, "City", "@s20", "City", 'L', true, false, false, 1, 0, false, true, true, 'F'},
        {"CUST:Country", 80, "Country", "@s20", "Country", 'L', true, false, false, 1, 0, false, true, true,
         'S'},
        {"CUST:PostalZipCode", 48, "Postal Zip Code", "@s12", "Postal/Zip Code", 'L', true, false, false, 1,
         0, false, true, true, 'I'},
        {"CUST:SysId", 28, "Sys Id", "@n7", "Customer ID", 'R', false, false, false, 1, 0, false, true, false,
         'X'},
    });
    return t;
}

const std::string& sortFieldBytes() {
    static const std::string t = bx::sortFieldTable({
        {"CUST:Company", {}},
        {"CUST:Address1", {}},
        {"CUST:Address2", {}},
        {"CUST:PostalZipCode", {}},
        {"CUST:City", {{"CUST:City", false, "@s20"}, {"CUST:Company", false, "@s30"}}},
        {"CUST:Country",
         {{"CUST:Country", false, "@s20"}, {"CUST:City", false, "@s20"}, {"CUST:Company", false, "@s30"}}},
    });
    return t;
}

const std::string& additionalOrderBytes() {
    static const std::string t = bx::additionalOrderTable(true, {{"CUST:Country", false, "@s20"}});
    return t;
}

class CustomerWindow;

// The list's Sorvex object: the browse's own tables, format slots, column orders and locators.
class CustomerSorvex : public bx::Sorvex {
public:
    explicit CustomerSorvex(CustomerWindow& owner) : owner_(owner) {}
    void InitColumns() override {
        QDIM = 5;
        QDIMS = 6;
        GR = columnTableBytes();
        GRS = sortFieldBytes();
        GRA = additionalOrderBytes();
        ReadColumnTables();
        for (const TabOrder& t : Tabs) AddFormatSlot(t.control);
    }
    void AddColumnSortOrder(int n) override;
    void ResetColumnSortOrders() override;
    void ReportSortField(const bx::SorvexColumn& column) override { sortField = column.FIELD; }
    // Company, city and country fall into categories by their first 20 characters, the postal
    // code by its first two, the customer number by the number shown.
    void GraphCategory(int qnos, const std::string& picture, std::string& text) override {
        bx::Sorvex::GraphCategory(qnos, picture, text);
        const std::string& field = tableColumnField(qnos);
        if (field.empty()) return;
        if (field == "CUST:PostalZipCode")
            text = text.substr(0, 2);
        else if (field != "CUST:SysId")
            text = text.substr(0, 20);
    }
    // The report of this list carries a title of its own, fits in 12 to 10 points, always goes
    // through the previewer and has bold italic headers.
    void PrintList(std::string_view mode) override {
        const std::string caption = W->caption();
        W->setCaption("Whatever You Want");
        MAXFONTSIZE = 12;
        MINFONTSIZE = 10;
        if (mode.starts_with("View")) ALLPREVIEW = 1;
        if (mode.starts_with("Page")) PAGEPREVIEW = 1;
        HEADERSTYLE = 4796;
        bx::Sorvex::PrintList(mode);
        W->setCaption(caption);
    }

    std::string sortField; // the field of the column sorted on last

private:
    CustomerWindow& owner_;
    // One locator per column order, of the kind the column's locator letter names.
    ColumnLocators locators_;
};

// The browse: the order in force is chosen on every reset.
class CustomerBrowse : public fw::BrowseManager {
public:
    explicit CustomerBrowse(CustomerWindow& owner) : owner_(owner) {}
    void ResetSort(bool force) override;

private:
    CustomerWindow& owner_;
};

class CustomerWindow : public fw::WindowManager {
public:
    CustomerWindow() : browse(*this), sorvex(*this), queue(listLayout()) {}

    fw::Level Init() override;
    void Kill() override;
    fw::Level HandleEvent() override;
    // Insert, Change and Delete run the Customer form.
    int Run(int, int request) override { return UpdateCustomer(request); }
    using WindowManager::Run;

    // The sheet's tab (1-based) and its control number and key.
    int selectedTab() { return std::clamp(toInt(WINDOW.property(Sheet, win::prop::Selected)), 1, 5); }
    const TabOrder& tab() { return Tabs[static_cast<std::size_t>(selectedTab() - 1)]; }

    CustomerBrowse browse;
    CustomerSorvex sorvex;
    Queue queue;
    OpenRelations relations;
    ListView view;
    fw::PopupManager popup;
    fw::ToolbarManager toolbar;
    ColumnLocators locators;
    SorvexListState list;

private:
    static int toInt(const std::string& s) {
        try {
            return s.empty() ? 0 : std::stoi(s);
        } catch (...) {
            return 0;
        }
    }
    void changeTab();
};

void CustomerSorvex::AddColumnSortOrder(int) {
    // Each column order starts out with the key of the tab in force and the column's locator on
    // the column's field.
    const int order = BC->AddSortOrder(owner_.tab().key);
    SetColumnSortOrder(order);
    bx::SorvexColumn c;
    if (currentTableColumn(c))
        locators_.add(*BC, c.LOCATORTYPE, owner_.view.primary().File().record.ref(c.FIELD));
}

void CustomerSorvex::ResetColumnSortOrders() {
    ResetColumnSortOrdersTo(owner_.tab().key);
}

void CustomerBrowse::ResetSort(bool force) {
    ApplySortChoice(
        owner_.list.chosenOrder(owner_.sorvex, owner_.selectedTab() == 1 ? 6 : owner_.selectedTab()), force);
}

fw::Level CustomerWindow::Init() {
    fw::Level level = openProcedureWindow(*this, BrowseCustomerResource);
    if (level != fw::LevelNone) return level;
    if (!relations.open(RelateCustomer())) return fw::LevelFatal;
    view.open(RelateCustomer());
    Record& cust = view.primary().File().record;
    browse.Init(List, queue, queue.field("BRW1:Position"), view.view(), view.primary(), *this);

    // Orders 2 to 6 (order 1 is the file's own order); each with its thumb step and locator.
    struct KeyOrder {
        int key;
        const char* field;
        bool stringStep;
    };
    const KeyOrder orders[] = {{KeyCompany, "CUST:Company", true},
                               {KeyCity, "CUST:City", true},
                               {KeyPostalZipCode, "CUST:PostalZipCode", true},
                               {KeyCountry, "CUST:Country", true},
                               {KeySysId, "CUST:SysId", false}};
    for (const KeyOrder& o : orders) {
        browse.AddSortOrder(o.key);
        if (o.stringStep) {
            auto step = std::make_unique<fw::StringStep>();
            step->Init(fw::stepctl::Letters, fw::StepBetweenLimits);
            browse.SetThumb(std::move(step));
        } else {
            browse.SetThumb(longStep());
        }
        locators.add(browse, 'I', cust.ref(o.field));
    }

    list.init(sorvex, *this, browse, queue, List, PopupMask);
    for (const char* field : {"CUST:Company", "CUST:City", "CUST:Country", "CUST:PostalZipCode"})
        sorvex.BindColumn(cust.ref(field), queue.field(std::string("BRW1:") + field));
    sorvex.BuildSortOrders(1);
    browse.FIELDS.clear();
    browse.AddField(queue.field("BRW1:CUST:SysId"), cust.ref("CUST:SysId"));
    sorvex.RegisterBrowseFields();

    popup.Init(WINDOW);
    browse.POPUP = &popup;
    browse.INSERTCONTROL = Insert;
    browse.CHANGECONTROL = Change;
    browse.DELETECONTROL = Delete;
    browse.SELECTCONTROL = Select;
    browse.ASKPROCEDURE = 1;
    AddItem(&toolbar);
    browse.AddToolbarTarget();
    AddItem(&browse);

    sorvex.RestoreLayout(ListName, Section);
    const int choice = toInt(fw::iniManager().ReadSetting(Section, FormatChoiceKey));
    if (choice >= 1 && choice <= static_cast<int>(Tabs.size()))
        WINDOW.setProperty(Sheet, win::prop::Selected, std::to_string(choice));
    sorvex.SelectFormatSlot(tab().control);
    sorvex.ResetColumnSortOrders();
    fw::WindowPlacement place(WINDOW);
    fw::iniManager().Fetch(Section, place);
    RegisterAlertKeys();
    list.finish(sorvex, browse);
    browse.AddListAlert(EnterKey);
    return fw::LevelNone;
}

void CustomerWindow::Kill() {
    if (DEAD) return;
    if (OPENED && WINDOW.isOpen()) {
        fw::iniManager().Update(Section, FormatChoiceKey, static_cast<std::int64_t>(selectedTab()));
        list.save(sorvex, ListName, Section);
        fw::WindowPlacement place(WINDOW);
        fw::iniManager().Update(Section, place);
    }
    sorvex.Kill();
    WindowManager::Kill();
    view.close();
    relations.close();
}

void CustomerWindow::changeTab() {
    // A new tab ends a header-click sort: its own layout and its key's order come back.
    list.clearSort(sorvex);
    sorvex.SelectFormatSlot(tab().control);
    sorvex.ResetColumnSortOrders();
    Reset(true);
}

fw::Level CustomerWindow::HandleEvent() {
    if (sorvex.TakeListEvent(EVENT) == fw::LevelNotify) return fw::LevelNotify;
    // Enter on a row changes it, as a double click does.
    if (EVENT.control == List && event() == fw::wmevent::AlertKey && keyCode() == EnterKey) {
        if (browse.rows() > 0) WINDOW.post(win::event::Accepted, Change);
        return fw::LevelNotify;
    }
    if (EVENT.control == Sheet && event() == fw::wmevent::NewSelection) {
        changeTab();
        return fw::LevelNotify;
    }
    return WindowManager::HandleEvent();
}

} // namespace

void registerBrowseCustomer() {
    win::registerWindowResource(BrowseCustomerResource, customerBrowseSpec);
}

void BrowseCustomer() {
    CustomerWindow window;
    window.Run();
}

} // namespace sorv::app
