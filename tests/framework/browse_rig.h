// A real browse on a real table for the browse tests and benchmark: a native People-like file in
// a temporary directory, a window with a LIST and the four buttons, a browse over a view of the
// file, and a pump that hands the window's waiting events through the window manager.
#pragma once
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "framework/browsemanager.h"
#include "framework/errormanager.h"
#include "framework/filemanager.h"
#include "framework/locators.h"
#include "framework/relationviewprimary.h"
#include "framework/steps.h"
#include "runtime/errors.h"
#include "runtime/registry.h"
#include "tests/data/testfiles.h"
#include "windowing/listbox_control.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace browsetest {

using namespace sorv;
using namespace sorv::fw;

constexpr int List = 10, InsertButton = 11, ChangeButton = 12, DeleteButton = 13, SelectButton = 14,
              LocatorEntry = 15;
// Keys of the table.
constexpr int KeySysId = 0, KeyCust = 1, KeyName = 2;

using TempDir = sorvtest::TempDir;

inline FileDecl peopleDecl(const std::string& name) {
    return sorvtest::declareFile("People", "QUARNELL", name,
                                 {{"PPL:SysId", FieldType::Long},
                                  {"PPL:LastName", FieldType::String, 20},
                                  {"PPL:CustId", FieldType::Long}},
                                 {{"PPL:SysIdKey", {{0, false}}, keyflag::Primary},
                                  {"PPL:CustKey", {{2, false}, {1, false}}, keyflag::Dup | keyflag::NoCase},
                                  {"PPL:NameKey", {{1, false}}, keyflag::Dup | keyflag::NoCase}});
}

// Names "N0001"... so that name order is SysId order unless a test renames a record.
inline std::string nameOf(int id) {
    std::string s = std::to_string(id);
    return "N" + std::string(s.size() < 4 ? 4 - s.size() : 0, '0') + s;
}

// The file's view access with a disk fault that can be switched on for reads.
struct FaultyTable : FileViewTable {
    using FileViewTable::FileViewTable;
    bool failReads = false;
    int next() override { return failReads ? fail() : FileViewTable::next(); }
    int previous() override { return failReads ? fail() : FileViewTable::previous(); }
    int fail() {
        setErrnoError(EIO);
        return errorCode();
    }
};

// The plain primary file, counting its quick-scan switches.
struct CountingPrimary : PlainViewPrimary {
    using PlainViewPrimary::PlainViewPrimary;
    std::vector<bool> quickScans;
    void SwitchQuickScan(bool on) override {
        quickScans.push_back(on);
        PlainViewPrimary::SwitchQuickScan(on);
    }
};

// The table's file manager as a dictionary would derive it: new records get a name at once.
struct PeopleFiles : FileManager {
    int primed = 0;
    void PrimeNewRecord() override {
        ++primed;
        record().set("PPL:LastName", Value("Primed"));
    }
};

struct Rig;

struct BrowseWindow : WindowManager {
    Rig* rig = nullptr;
    int listHeight = 0;
    std::function<int(int, int)> form; // the update procedure
    Level Init() override;
    int Run(int number, int request) override { return form ? form(number, request) : ResponseCancelled; }
    using WindowManager::Run;
};

struct CountingBrowse : BrowseManager {
    int reloads = 0;
    std::function<void()> onFill; // run at the start of every page fill
    void ReloadQueue(int mode) override {
        ++reloads;
        BrowseManager::ReloadQueue(mode);
    }
    void FillPage(int direction) override {
        if (onFill) onFill();
        BrowseManager::FillPage(direction);
    }
};

struct Rig {
    TempDir dir;
    FileDecl file;
    std::unique_ptr<FaultyTable> table;
    std::unique_ptr<View> view;
    ErrorManager errors;
    std::unique_ptr<CountingPrimary> primary;
    // With `managed`, the browse reaches the table through its file and relation managers, and
    // the procedure has opened it (lazily) as a procedure's Init does.
    PeopleFiles files;
    RelationManager relation;
    std::unique_ptr<RelationViewPrimary> managed;
    std::unique_ptr<Queue> queue;
    BrowseWindow window;
    CountingBrowse browse;
    bool opened = false;

    // Creates the table with `records` people (SysId 1.., customer id (SysId-1)/10+1), opens the
    // window with a list showing `visible` rows and binds the browse in key order `key`.
    // With an `existing` file name the table is that file, left as it is.
    explicit Rig(int records, int visible = 10, int key = KeySysId, const std::string& existing = {},
                 bool useManagers = false) {
        errors.Init();
        file = peopleDecl(existing.empty() ? dir.file("PEOPLE") : existing);
        if (existing.empty()) create(file);
        share(file);
        for (int i = 1; i <= records; ++i) add(i);
        threadNames().bindRecord(file.record);
        table = std::make_unique<FaultyTable>(file);
        view = std::make_unique<View>(*table, ViewTraceSettings{});
        primary = std::make_unique<CountingPrimary>(file, errors);
        if (useManagers) {
            close(file);
            files.Init(file, errors, "People");
            files.AddKey(KeySysId, "PPL:SysIdKey");
            relation.Init(files);
            relation.Open();
            managed = std::make_unique<RelationViewPrimary>(relation);
        }
        Layout q;
        q.add("Q:SysId", FieldType::Long);
        q.add("Q:LastName", FieldType::String, 20);
        q.add("Q:CustId", FieldType::Long);
        q.add("Q:Position", FieldType::String, 512);
        queue = std::make_unique<Queue>(q);
        window.rig = this;
        window.listHeight = visible;
        opened = window.Init() == LevelNone;
        if (!opened) return;
        browse.Init(List, *queue, queue->field("Q:Position"), *view,
                    managed ? static_cast<ViewPrimary&>(*managed) : *primary, window);
        browse.AddField(queue->field("Q:SysId"), file.record.ref("PPL:SysId"));
        browse.AddField(queue->field("Q:LastName"), file.record.ref("PPL:LastName"));
        browse.AddField(queue->field("Q:CustId"), file.record.ref("PPL:CustId"));
        browse.INSERTCONTROL = InsertButton;
        browse.CHANGECONTROL = ChangeButton;
        browse.DELETECONTROL = DeleteButton;
        browse.SELECTCONTROL = SelectButton;
        browse.ASKPROCEDURE = 1;
        if (key >= 0) browse.AddSortOrder(key);
        window.AddItem(&browse);
    }
    ~Rig() {
        window.Kill();
        if (managed) {
            relation.Close();
            files.Kill();
        }
        threadNames().unbindRecord(file.record);
        if (file.isOpen()) close(file);
    }
    void add(int id, int cust = 0) {
        file.record.clear();
        file.record.set("PPL:SysId", Value(id));
        file.record.set("PPL:LastName", Value(nameOf(id)));
        file.record.set("PPL:CustId", Value(cust ? cust : (id - 1) / 10 + 1));
        sorv::add(file);
    }
    void addNamed(int id, const std::string& name, int cust = 1) {
        file.record.clear();
        file.record.set("PPL:SysId", Value(id));
        file.record.set("PPL:LastName", Value(name));
        file.record.set("PPL:CustId", Value(cust));
        sorv::add(file);
    }
    // A key pressed on the list while it has alert keys.
    void key(int keyCode) {
        win::Event e = win::makeEvent(win::event::AlertKey, List, window.WINDOW.id());
        e.keyCode = keyCode;
        window.EVENT = e;
        window.HandleEvent();
        pump();
    }
    // The last names of the rows in the queue.
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (std::int64_t i = 1; i <= queue->records(); ++i)
            out.emplace_back(clipRight(queue->value(i, 2).toText()));
        return out;
    }

    // Hands every waiting event (and those they post) through the window manager; false once
    // the window closed.
    bool pump() {
        for (;;) {
            window.WINDOW.post(win::event::Notify);
            int handled = 0;
            win::Event e;
            for (;;) {
                if (!window.WINDOW.accept(e)) return false;
                if (e.code == win::event::Notify && e.control == 0) break;
                ++handled;
                window.EVENT = e;
                Level l = window.HandleEvent();
                if (l == LevelFatal) return false;
                if (l != LevelNotify) window.WINDOW.defaultAction(e);
                if (!window.WINDOW.isOpen()) return false;
            }
            if (handled == 0) return true;
        }
    }
    // Posts one event of the list and pumps.
    bool list(int code) {
        window.WINDOW.post(code, List);
        return pump();
    }
    // The user selects a row of the list.
    void select(int row) {
        window.WINDOW.setProperty(List, win::listprop::Selected, std::to_string(row));
        list(win::event::NewSelection);
    }
    void drag(int percent) {
        window.WINDOW.setProperty(List, win::listprop::Thumb, std::to_string(percent));
        list(win::event::ScrollDrag);
    }
    int thumb() { return std::stoi(window.WINDOW.property(List, win::listprop::Thumb)); }
    int visibleRows() { return std::stoi(window.WINDOW.property(List, win::listprop::VisibleRows)); }
    // The SysIds of the rows in the queue, first row first.
    std::vector<int> ids() {
        std::vector<int> out;
        for (std::int64_t i = 1; i <= queue->records(); ++i)
            out.push_back(static_cast<int>(queue->value(i, 1).toLong()));
        return out;
    }
    int selectedId() {
        int c = browse.CURRENTCHOICE;
        return c >= 1 && c <= queue->records() ? static_cast<int>(queue->value(c, 1).toLong()) : 0;
    }
    // Opens the window's first reset, as EVENT:OpenWindow does.
    void start() {
        window.RegisterAlertKeys();
        window.EVENT = win::makeEvent(win::event::OpenWindow, 0, window.WINDOW.id());
        window.HandleEvent();
        pump();
    }
    // Sizes the list so that it shows `rows` rows (its height in dialog units searched).
    bool sizeList(int rows) {
        win::Rect r = window.WINDOW.controlRect(List);
        for (int h = 8; h < 400; ++h) {
            r.height = h;
            window.WINDOW.setControlRect(List, r);
            if (visibleRows() == rows) return true;
        }
        return false;
    }
};

inline Level BrowseWindow::Init() {
    Level l = WindowManager::Init();
    if (l != LevelNone) return l;
    win::WindowSpec design;
    design.caption = "Browse the People File";
    design.at = {0, 0, 360, 420};
    win::ControlSpec& list = design.add("LIST", List, {4, 4, 260, 100}, "Browsing Records");
    list.format = "40R(2)|M~Sys Id~@n6@80L(2)|M~Last Name~@s20@40R(2)|M~Cust~@n6@";
    list.vscroll = true;
    design.add("BUTTON", InsertButton, {270, 4, 40, 14}, "&Insert");
    design.add("BUTTON", ChangeButton, {270, 22, 40, 14}, "&Change");
    design.add("BUTTON", DeleteButton, {270, 40, 40, 14}, "&Delete");
    design.add("BUTTON", SelectButton, {270, 58, 40, 14}, "&Select");
    design.add("ENTRY", LocatorEntry, {270, 76, 60, 12}, "Locate");
    if (!WINDOW.open(design)) return LevelFatal;
    if (!rig->sizeList(listHeight)) return LevelFatal;
    return LevelNone;
}

} // namespace browsetest
