// The parent/child browse: the customers above in their number's order, the highlighted customer's
// people below, limited to that customer and reloaded whenever it changes; each list with its
// Sorvex object and the texts of its view's order and filter; the controls follow the window's size.
#include "app/browseparentchild.h"

#include "app/browselists.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/peoplelists.h"
#include "app/updateforms.h"
#include "browse_ext/columntable.h"
#include "data/files.h"
#include "data/view.h"
#include "framework/inimanager.h"
#include "framework/popupmanager.h"
#include "framework/relationviewprimary.h"
#include "framework/toolbarmanager.h"
#include "framework/windowplacement.h"
#include "framework/windowresizer.h"
#include "windowing/desktop.h"

#include <memory>

namespace sorv::app {

const char* const BrowseParentChildResource = "sorvdemo$SORVD007|P1$QUICKWINDOW";

namespace {

using namespace parentchild;

constexpr const char* Section = "BrowseParentChild";
constexpr const char* ParentName = "?Browse:1";
constexpr const char* ChildName = "?Browse:2";
constexpr std::uint32_t ParentMask = 0x27FCFDFF;
constexpr std::uint32_t ChildMask = 0x27FCFFFF;
// The update procedures the lists' buttons run.
constexpr int CustomerForm = 1, PeopleForm = 2;
// The texts of a view's order and filter show 40 characters.
constexpr std::size_t TextWidth = 40;

win::WindowSpec parentChildSpec() {
    win::WindowSpec d;
    d.kind = win::WindowKind::MdiChild;
    d.caption = "Browse the Parent & Child Files";
    d.resizable = true;
    d.at = {24, 20, 400, 264};
    auto half = [&](int top, int orderPrompt, int list, const char* format, int insert) {
        d.add("PROMPT", orderPrompt, {4, top, 26, 10}, "Order:");
        d.add("STRING", orderPrompt + 1, {30, top, 164, 10});
        d.add("PROMPT", orderPrompt + 2, {198, top, 26, 10}, "Filter:");
        d.add("STRING", orderPrompt + 3, {224, top, 172, 10});
        win::ControlSpec& l = d.add("LIST", list, {4, top + 12, 392, 92}, "Browsing Records");
        l.format = format;
        l.vscroll = true;
        d.add("BUTTON", insert, {242, top + 108, 50, 14}, "&Insert");
        d.add("BUTTON", insert + 1, {294, top + 108, 50, 14}, "&Change");
        d.add("BUTTON", insert + 2, {346, top + 108, 50, 14}, "&Delete");
    };
    half(4, ParentOrderPrompt, ParentList,
         "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@64L(2)|M~Postal Zip Code~@s12@80L(2)|M~Country~@s20@",
         ParentInsert);
    half(132, ChildOrderPrompt, ChildList,
         "80L(2)|M~Last Name~@s20@80L(2)|M~First Name~@s20@56L(2)|M~Telephone~@p###-###-####p@"
         "31L(2)|M~Gender~@s6@40R(2)|M~Birthdate~@D17b@36R(2)|M~Salary~@n7@",
         ChildInsert);
    return d;
}

// ---- the customers ----

const std::vector<bx::ColumnRow>& customerRows() {
    // field, width, header, picture, description, justification, shown, colours, icon, file, tab,
    // total, graph, sortable, locator
    static const std::vector<bx::ColumnRow> rows = {
        {"CUST:Company", 120, "Company", "@s30", "Company Name", 'L', true, false, false, 1, 0, false, true,
         true, 'S'},
        {"CUST:City", 80, "City", "@s20", "City", 'L', true, false, false, 1, 0, false, true, true, 'F'},
        {"CUST:PostalZipCode", 48, "Postal Zip Code", "@s12", "Postal/Zip Code", 'L', true, false, false, 1,
         0, false, true, true, 'S'},
        {"CUST:Country", 80, "Country", "@s20", "Country", 'L', true, false, false, 1, 0, false, true, true,
         'S'},
        {"CUST:Address1", 80, "Address 1", "@s20", "Address Line 1", 'L', false, false, false, 1, 0, false,
         false, false, 'X'},
        {"CUST:Address2", 80, "Address 2", "@s20", "Address Line 2", 'L', false, false, false, 1, 0, false,
         false, false, 'X'},
        {"CUST:SysId", 28, "Sys Id", "@n7", "Customer ID", 'R', false, false, false, 1, 0, false, true, false,
         'X'},
    };
    return rows;
}

Layout customerListLayout() {
    Layout l;
    l.add("Q:CUST:Company", FieldType::String, 30);
    l.add("Q:CUST:City", FieldType::String, 20);
    l.add("Q:CUST:PostalZipCode", FieldType::String, 12);
    l.add("Q:CUST:Country", FieldType::String, 20);
    l.add("Q:CUST:Address1", FieldType::String, 20);
    l.add("Q:CUST:Address2", FieldType::String, 20);
    l.add("Q:CUST:SysId", FieldType::Long);
    l.add("Q:Position", FieldType::String, 512);
    return l;
}

class CustomerBrowse : public fw::BrowseManager {
public:
    void ResetSort(bool force) override { ApplySortChoice(sorvex ? list.chosenOrder(*sorvex, 2) : 2, force); }
    SorvexListState list;
    bx::Sorvex* sorvex = nullptr;
};

// The upper list's Sorvex object: Company with a step locator and City with a filter locator in
// both of their orders, the other columns with none.
class CustomerSorvex : public bx::Sorvex {
public:
    void InitColumns() override {
        QDIM = static_cast<std::int16_t>(customerRows().size());
        QDIMS = 0;
        columns_ = bx::columnTable(customerRows());
        additional_ = bx::additionalOrderTable(false, {});
        GR = columns_;
        GRS = {};
        GRA = additional_;
        ReadColumnTables();
        AddFormatSlot(0);
    }
    void AddColumnSortOrder(int) override {
        SetColumnSortOrder(BC->AddSortOrder(KeySysId));
        bx::SorvexColumn c;
        if (!currentTableColumn(c)) return;
        const std::string field(clipRight(c.FIELD));
        const char kind = field == "CUST:Company" ? 'S' : field == "CUST:City" ? 'F' : 0;
        locators_.add(*BC, kind, customer->ref(field));
    }
    std::int64_t GraphRecordCount() override { return records(AccessCustomer().file()); }

    Record* customer = nullptr;

private:
    std::string columns_, additional_;
    ColumnLocators locators_;
};

// ---- the people of the customer ----

PeopleListDesign childDesign() {
    PeopleListDesign d;
    for (const char* field : {"PPL:LastName", "PPL:FirstName", "PPL:Phone", "Gender", "PPL:DoB", "PPL:Salary",
                              "PPL:YearHired", "PPL:SysId"}) {
        bx::ColumnRow r = peopleColumn(field);
        if (r.field == "PPL:Salary") {
            r.picture = "@n7";
            r.width = 36;
        }
        if (r.field == "PPL:Phone") r.width = 56;
        if (r.field == "PPL:YearHired") r.display = false;
        d.columns.push_back(r);
    }
    d.locators = {{"PPL:LastName", 'S'}, {"PPL:FirstName", 'S'}, {"PPL:Phone", 'S'},
                  {"Gender", 'S'},       {"PPL:DoB", 'S'},       {"PPL:Salary", 'S'}};
    d.birthMonths = true;
    return d;
}

class ParentChildWindow : public fw::WindowManager {
public:
    ParentChildWindow()
        : child(childDesign()), parentQueue(customerListLayout()),
          childQueue(peopleListLayout(childDesign().columns)) {}

    fw::Level Init() override {
        fw::Level level = openProcedureWindow(*this, BrowseParentChildResource);
        if (level != fw::LevelNone) return level;
        if (!relations_.open(RelateCustomer()) || !relations_.open(RelatePeople())) return fw::LevelFatal;
        Record& cust = Customer().get().record;
        Record& ppl = People().get().record;

        // The customers: order 2 by number, with its long step and a step locator.
        parentView.open(RelateCustomer());
        parentBrowse.Init(ParentList, parentQueue, parentQueue.field("Q:Position"), parentView.view(),
                          parentView.primary(), *this);
        parentBrowse.AddSortOrder(KeySysId);
        parentBrowse.SetThumb(longStep());
        parentLocators.add(parentBrowse, 'S', cust.ref("CUST:SysId"));
        parentBrowse.list.init(parent, *this, parentBrowse, parentQueue, ParentList, ParentMask);
        parentBrowse.sorvex = &parent;
        parent.customer = &cust;
        for (const bx::ColumnRow& r : customerRows())
            if (r.locator != 'X' || r.display)
                parent.BindColumn(cust.ref(r.field), parentQueue.field("Q:" + r.field));
        parent.BuildSortOrders(1);
        parentBrowse.FIELDS.clear();
        parentBrowse.AddField(parentQueue.field("Q:CUST:SysId"), cust.ref("CUST:SysId"));
        parent.RegisterBrowseFields();

        // The people of the highlighted customer: order 2 by the People key, limited to that
        // customer's number; its column orders are limited the same way.
        childView.open(RelatePeople());
        childBrowse.Init(ChildList, childQueue, childQueue.field("Q:Position"), childView.view(),
                         childView.primary(), *this);
        childBrowse.AddSortOrder(SysIdKey);
        childBrowse.AddRange(ppl.ref("PPL:SysId"), cust.ref("CUST:SysId"));
        childBrowse.SetThumb(longStep());
        childLocators.add(childBrowse, 'S', ppl.ref("PPL:SysId"));
        childBrowse.list.init(child, *this, childBrowse, childQueue, ChildList, ChildMask);
        child.bindColumns(childBrowse, ppl, nullptr, childQueue, cust.ref("CUST:SysId"));

        parentPopup.Init(WINDOW);
        childPopup.Init(WINDOW);
        setButtons(parentBrowse, parentPopup, ParentInsert, CustomerForm);
        setButtons(childBrowse, childPopup, ChildInsert, PeopleForm);
        AddItem(&toolbar);
        parentBrowse.AddToolbarTarget();
        childBrowse.AddToolbarTarget();
        AddItem(&parentBrowse);
        AddItem(&childBrowse);

        parent.RestoreLayout(ParentName, Section);
        child.RestoreLayout(ChildName, Section);
        fw::WindowPlacement place(WINDOW);
        fw::iniManager().Fetch(Section, place);
        resizer.Init(*this, fw::StrategySpread);
        for (int c : {ParentInsert, ParentChange, ParentDelete, ChildInsert, ChildChange, ChildDelete})
            resizer.SetControlStrategy(c, fw::resize::XFromRight | fw::resize::YProportional,
                                       fw::resize::LockWidth | fw::resize::LockHeight);
        for (int c : {ParentOrderPrompt, ParentOrder, ParentFilterPrompt, ParentFilter, ChildOrderPrompt,
                      ChildOrder, ChildFilterPrompt, ChildFilter})
            resizer.SetControlStrategy(c, fw::resize::XProportional | fw::resize::YProportional,
                                       fw::resize::LockHeight);
        resizer.Resize();
        RegisterAlertKeys();
        parentBrowse.list.finish(parent, parentBrowse);
        childBrowse.list.finish(child, childBrowse);
        return fw::LevelNone;
    }

    void Kill() override {
        if (DEAD) return;
        if (OPENED && WINDOW.isOpen()) {
            parentBrowse.list.save(parent, ParentName, Section);
            childBrowse.list.save(child, ChildName, Section);
            fw::WindowPlacement place(WINDOW);
            fw::iniManager().Update(Section, place);
        }
        parent.Kill();
        child.Kill();
        WindowManager::Kill();
        parentView.close();
        childView.close();
        relations_.close();
    }

    fw::Level HandleEvent() override {
        fw::Level level = fw::LevelNotify;
        if (parent.TakeListEvent(EVENT) != fw::LevelNotify && child.TakeListEvent(EVENT) != fw::LevelNotify)
            level = WindowManager::HandleEvent();
        showViewTexts();
        return level;
    }

    // The upper list's buttons run the Customer form, the lower list's the People form.
    int Run(int number, int request) override {
        return number == CustomerForm ? UpdateCustomer(request) : UpdatePeople(request);
    }
    using WindowManager::Run;

    CustomerBrowse parentBrowse;
    CustomerSorvex parent;
    PeopleBrowse childBrowse;
    PeopleSorvex child;
    Queue parentQueue, childQueue;
    ListView parentView, childView;
    ColumnLocators parentLocators, childLocators;
    fw::PopupManager parentPopup, childPopup;
    fw::ToolbarManager toolbar;
    fw::WindowResizer resizer;

private:
    void setButtons(fw::BrowseManager& b, fw::PopupManager& popup, int insert, int procedure) {
        b.POPUP = &popup;
        b.INSERTCONTROL = insert;
        b.CHANGECONTROL = insert + 1;
        b.DELETECONTROL = insert + 2;
        b.ASKPROCEDURE = static_cast<std::uint16_t>(procedure);
    }
    // Each list's view order and filter, as far as the texts show them.
    void showViewTexts() {
        const std::pair<int, std::string> texts[] = {{ParentOrder, parentView.view().order()},
                                                     {ParentFilter, parentView.view().filter()},
                                                     {ChildOrder, childView.view().order()},
                                                     {ChildFilter, childView.view().filter()}};
        for (const auto& [control, text] : texts) {
            std::string shown = text.substr(0, TextWidth);
            if (WINDOW.text(control) != shown) WINDOW.setText(control, shown);
        }
    }

    OpenRelations relations_;
};

} // namespace

void registerBrowseParentChild() {
    win::registerWindowResource(BrowseParentChildResource, parentChildSpec);
}

void BrowseParentChild() {
    ParentChildWindow window;
    window.Run();
}

} // namespace sorv::app
