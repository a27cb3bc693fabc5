// The file-loaded list and the hand-coded list: their windows, their queues and how each is
// filled, their Sorvex objects (column tables, graph categories) and what they share: the column
// menu through the window's popup, the header sorts reordering the queue, and the layout and
// window place kept under the window's section of "sorvdemo.INI".
#include "app/memorylists.h"

#include "app/browselists.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/peoplelists.h"
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "framework/filedroplist.h"
#include "framework/inimanager.h"
#include "framework/listrows.h"
#include "framework/popupmanager.h"
#include "framework/relationviewprimary.h"
#include "framework/windowplacement.h"
#include "framework/windowresizer.h"
#include "runtime/datetime.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <memory>
#include <random>

namespace sorv::app {

const char* const FileLoadedListResource = "sorvdemo$SORVD008|P1$QUICKWINDOW";
const char* const HandCodedListResource = "sorvdemo$SORVD009|P1$WINDOW";

std::string numberBand(long long value, long long width) {
    const long long low = width * (value / width);
    return std::to_string(low) + " - " + std::to_string(low + width - 1);
}

namespace {

using namespace memorylist;

constexpr std::uint32_t PopupMask = 0x227CFCE7;
constexpr int FirstDay = 70000; // 23 August 1992: the earliest made-up date
constexpr int StartEntries = 300;

// The list's number, shown under it (and, in the hand-coded list, typed in).
Record& countVariable() {
    thread_local Record r([] {
        Layout l;
        l.add("LOC:Records", FieldType::Long);
        return l;
    }());
    return r;
}

win::WindowSpec listSpec(const char* caption, const char* format, const char* prompt, bool typed) {
    win::WindowSpec design;
    design.kind = win::WindowKind::MdiChild;
    design.caption = caption;
    design.resizable = true;
    design.at = {24, 18, 420, 226};
    win::ControlSpec& list = design.add("LIST", List, {4, 4, 412, 200}, "Records");
    list.format = format;
    list.vscroll = true;
    list.hscroll = true;
    design.add("PROMPT", CountPrompt, {4, 211, 112, 10}, prompt);
    win::ControlSpec& count = design.add(typed ? "ENTRY" : "STRING", Count, {120, 210, 40, 12});
    count.use = countVariable().ref("LOC:Records");
    // The number of entries read shows whole up to 999,999,999 (six places showed "######" from
    // 100,000 on); the number the user types keeps its six.
    count.picture = typed ? "@n6" : "@n11";
    count.tip = prompt;
    return design;
}

// A window whose list is held whole in memory: the list's queue and Sorvex object, the popup
// that carries the column menu, the resizer, and the list layout and window place kept under
// the window's section. Its own part fills the queue.
class MemoryListWindow : public fw::WindowManager, public bx::SorvexListOwner {
public:
    MemoryListWindow(const char* resource, const char* section, const char* listName, Layout layout,
                     bx::Sorvex& sorvex)
        : queue(std::move(layout)), resource_(resource), section_(section), listName_(listName),
          sorvex_(sorvex) {}

    fw::PopupManager* Popup() override { return &popup_; }

    fw::Level HandleEvent() override {
        if (sorvex_.TakeListEvent(EVENT) == fw::LevelNotify) return fw::LevelNotify;
        return WindowManager::HandleEvent();
    }

    void Kill() override {
        if (DEAD) return;
        if (OPENED && WINDOW.isOpen()) {
            sorvex_.SaveLayout(listName_, section_, list_.sequenceNbr);
            fw::WindowPlacement place(WINDOW);
            fw::iniManager().Update(section_, place);
        }
        sorvex_.Kill();
        WindowManager::Kill();
    }

    Queue queue;

protected:
    // Opens the window and sets the Sorvex object over the list as the given kind of list.
    fw::Level openList(bool fileLoaded) {
        fw::Level level = openProcedureWindow(*this, resource_);
        if (level != fw::LevelNone) return level;
        popup_.Init(WINDOW);
        const bx::SorvexOwnerRefs refs = list_.refs(*this, PopupMask);
        if (fileLoaded)
            sorvex_.InitFileList(*this, *this, queue, WINDOW, List, "sorvdemo.INI", bx::VisualHeader, refs);
        else
            sorvex_.InitQueueList(*this, *this, queue, WINDOW, List, "sorvdemo.INI", bx::VisualHeader, refs);
        SorvexListState::exportSettings(sorvex_);
        return fw::LevelNone;
    }
    // After the columns are bound: the sort strings and column menu, the stored layout, the
    // list's keys, the resizer and the window's place.
    void finishList() {
        sorvex_.BuildSortStrings();
        sorvex_.RestoreLayout(listName_, section_);
        std::string keys;
        for (int key :
             {bx::skey::AdjustWidths, bx::skey::Default, bx::skey::ToggleFlag, bx::skey::ColumnMenu})
            keys += (keys.empty() ? "" : ",") + std::to_string(key);
        WINDOW.setProperty(List, win::listprop::AlertKeys, keys);
        resizer_.Init(*this, fw::StrategyResize);
        fw::WindowPlacement place(WINDOW);
        fw::iniManager().Fetch(section_, place);
    }
    // The queue was filled and shown: it is sorted as the list is, with its number under it.
    void showFilled() {
        sorvex_.ResortQueueList();
        countVariable().set("LOC:Records", Value(queue.records()));
        WINDOW.display(Count);
    }

private:
    const char* resource_;
    const char* section_;
    const char* listName_;
    bx::Sorvex& sorvex_;
    fw::PopupManager popup_;
    fw::WindowResizer resizer_;
    SorvexListState list_; // the sort flags, popup mask and caption pattern the object works through
};

// ---- the file-loaded list ----

constexpr const char* FileSection = "FileLoadedList";
constexpr const char* FileListName = "?listcontrol";
constexpr const char* FileFormat =
    "80L(2)|M~Last Name~@s20@48L(2)|M~Phone~@p###-###-####p@40R(2)|M~Do B~@D17b@"
    "120L(2)|M~Company~@s30@80L(2)|M~City~@S20@80L(2)|M~Country~@S20@";

// The queue's fields are named as the columns' fields, so that the sort strings name them.
Layout fileListLayout() {
    Layout l;
    l.add("PPL:LastName", FieldType::String, 20);
    l.add("PPL:Phone", FieldType::String, 10);
    l.add("PPL:DoB", FieldType::Long);
    l.add("CUST:Company", FieldType::String, 30);
    l.add("CUST:City", FieldType::String, 20);
    l.add("CUST:Country", FieldType::String, 20);
    l.add("CUST:SysId", FieldType::Long);
    l.add("PPL:YearHired", FieldType::String, 4);
    l.addDecimal("PPL:Salary", 7, 0);
    l.add("PPL:Male", FieldType::Byte);
    l.add("CUST:PostalZipCode", FieldType::String, 12);
    l.add("FLQ:Position", FieldType::String, 64); // the file drop list's view position
    return l;
}

const std::string& fileColumnTable() {
    static const std::string t = bx::columnTable({
        {"PPL:LastName", 80, "Last Name", "@s20", "Last Name", 'L', true, false, false, 1, 0, false, true,
         true, 'S'},
        {"PPL:Phone", 48, "Phone", "@p###-###-####p", "Telephone", 'L', true, false, false, 1, 0, false, true,
         true, 'S'},
        {"PPL:DoB", 40, "Do B", "@D17b", "Date of Birth", 'R', true, false, false, 1, 0, false, true, true,
         'S'},
        {"CUST:Company", 120, "Company", "@s30", "Company Name", 'L', true, false, false, 2, 0, false, true,
         true, 'S'},
        {"CUST:City", 80, "City", "@S20", "City", 'L', true, false, false, 2, 0, false, true, true, 'S'},
        {"CUST:Country", 80, "Country", "@S20", "Country", 'L', true, false, false, 2, 0, false, true, true,
         'S'},
        {"CUST:SysId", 28, "Sys Id", "@n7", "Customer ID", 'R', false, false, false, 2, 0, false, true, true,
         'X'},
        {"PPL:YearHired", 16, "Year Hired", "@p####p", "Year of Hire", 'L', false, false, false, 1, 0, false,
         true, true, 'S'},
        {"PPL:Salary", 28, "Salary", "@n7", "Salary", 'R', false, false, false, 1, 0, false, true, true, 'S'},
        {"PPL:Male", 4, "Gender", "@n1", "Gender", 'L', false, false, false, 1, 0, false, true, true, 'S'},
        {"CUST:PostalZipCode", 48, "Postal Zip Code", "@s12", "Postal/Zip Code", 'L', false, false, false, 2,
         0, false, true, true, 'S'},
    });
    return t;
}

// The Sorvex object of a list held in memory: its column table, no sort fields or additional
// orders, one format.
class MemoryListSorvex : public bx::Sorvex {
public:
    MemoryListSorvex(std::int16_t columns, const std::string& table) : columns_(columns), table_(table) {}
    void InitColumns() override {
        QDIM = columns_;
        QDIMS = 0;
        GR = table_;
        GRS = {};
        GRA = {};
        ReadColumnTables();
        AddFormatSlot(0);
    }

private:
    std::int16_t columns_;
    const std::string& table_;
};

class FileListSorvex : public MemoryListSorvex {
public:
    FileListSorvex() : MemoryListSorvex(11, fileColumnTable()) {}
    void GraphCategory(int qnos, const std::string& picture, std::string& text) override {
        bx::Sorvex::GraphCategory(qnos, picture, text);
        const Value v = BQ->field(qnos).get();
        const std::string name = BQ->layout().field(static_cast<std::size_t>(qnos - 1)).name;
        if (name == "PPL:Phone")
            text = text.substr(0, 3);
        else if (name == "CUST:PostalZipCode")
            text = text.substr(0, 2);
        else if (name == "PPL:DoB")
            GraphMonthName(civilOf(v.toLong()).month, text);
        else if (name == "PPL:Salary")
            text = salaryBand(v.toLong());
        else if (isTextType(BQ->field(qnos).type()))
            text = text.substr(0, 20);
    }
};

// Fills the queue from the view; a fill that read the file again is shown as the list is sorted.
class PeopleDrop : public fw::FileDropList {
public:
    explicit PeopleDrop(std::function<void()> filled) : filled_(std::move(filled)) {}
    void FillQueue(bool force) override {
        const std::uint64_t before = LISTQUEUE->changes();
        FileDropList::FillQueue(force);
        if (LISTQUEUE->changes() != before) filled_();
    }

private:
    std::function<void()> filled_;
};

class FileLoadedWindow : public MemoryListWindow {
public:
    FileLoadedWindow()
        : MemoryListWindow(FileLoadedListResource, FileSection, FileListName, fileListLayout(), sorvex_),
          drop_([this] { showFilled(); }) {}

    fw::Level Init() override {
        fw::Level level = openList(true);
        if (level != fw::LevelNone) return level;
        if (!relations_.open(RelatePeople())) return fw::LevelFatal;
        // Each person with the person's customer (PPL:SysId names it), in the order of PPL:SysIdKey.
        view_.open(RelatePeople());
        view_.join(AccessCustomer(), KeySysId, "PPL:SysId");
        FileDecl& people = view_.primary().File();
        FileDecl& customer = AccessCustomer().file();

        drop_.Init(List, queue.field("FLQ:Position"), view_.view(), queue, view_.primary(), *this);
        drop_.AddSortOrder(SysIdKey);
        for (int f = 1; f <= 11; ++f) {
            const std::string name = queue.layout().field(static_cast<std::size_t>(f - 1)).name;
            Record& from = name.starts_with("PPL:") ? people.record : customer.record;
            drop_.AddField(queue.field(f), from.ref(name));
            if (name != "CUST:SysId") sorvex_.BindColumn(from.ref(name), queue.field(f));
        }
        AddItem(&drop_);
        finishList();
        return fw::LevelNone;
    }

    void Kill() override {
        if (DEAD) return;
        MemoryListWindow::Kill();
        view_.close();
        relations_.close();
    }

private:
    FileListSorvex sorvex_;
    PeopleDrop drop_;
    ListView view_;
    OpenRelations relations_;
};

// ---- the hand-coded list ----

constexpr const char* HandSection = "HandCodedList";
constexpr const char* HandListName = "?List2";
constexpr const char* HandFormat = "80L(2)|M~F1~@s20@20R(1)|M~F 2~R(2)@n5@27R(1)|M~F 3~R(2)@n3@"
                                   "40D(12)|M~F 4~R(2)@n10.2@40L(1)|M~F 5~L(2)@D17@";

Layout handListLayout() {
    Layout l;
    l.add("F1", FieldType::String, 20);
    l.add("F2", FieldType::Long);
    l.add("F3", FieldType::Byte);
    l.addDecimal("F4", 7, 2);
    l.add("F5", FieldType::Long); // a date
    return l;
}

const std::string& handColumnTable() {
    static const std::string t = [] {
        std::vector<bx::ColumnRow> rows;
        for (const char* f : {"F1", "F2", "F3", "F4", "F5"})
            rows.push_back({f, 99, f, "@S20", f, 'L', true, false, false, 0, 0, false, true, true, 'S'});
        return bx::columnTable(rows);
    }();
    return t;
}

class HandListSorvex : public MemoryListSorvex {
public:
    HandListSorvex() : MemoryListSorvex(5, handColumnTable()) {}
    void GraphCategory(int qnos, const std::string& picture, std::string& text) override {
        bx::Sorvex::GraphCategory(qnos, picture, text);
        const Value v = BQ->field(qnos).get();
        switch (qnos) {
        case 1:
        case 3:
            text = text.substr(0, 20);
            break;
        case 2:
            text = numberBand(v.toLong(), 1000);
            break;
        case 4:
            text = numberBand(v.toDecimal().toInt64(), 10);
            break;
        case 5:
            GraphWeekdayName(static_cast<int>(v.toLong() % 7) + 1, text);
            break;
        default:
            break;
        }
    }
};

class HandCodedWindow : public MemoryListWindow {
public:
    HandCodedWindow()
        : MemoryListWindow(HandCodedListResource, HandSection, HandListName, handListLayout(), sorvex_) {}

    fw::Level Init() override {
        fw::Level level = openList(false);
        if (level != fw::LevelNone) return level;
        for (int f = 1; f <= 5; ++f) sorvex_.BindColumn(queue.field(f), queue.field(f));
        finishList();
        countVariable().set("LOC:Records", Value(StartEntries));
        fill();
        return fw::LevelNone;
    }

    fw::Level HandleEvent() override {
        // A new number accepted makes the list again with that many entries, unsorted, the
        // columns as the user left them.
        if (EVENT.control == Count && event() == fw::wmevent::Accepted) {
            sorvex_.RestoreHeader();
            sorvex_.setSortedColumn(0);
            sorvex_.QNOS = 0;
            fill();
            return fw::LevelNotify;
        }
        return MemoryListWindow::HandleEvent();
    }

private:
    void fill() {
        const std::int64_t wanted = std::max<std::int64_t>(0, countVariable().get("LOC:Records").toLong());
        win::WaitCursor waiting;
        queue.free();
        std::uniform_int_distribution<int> number(1, 9000), repeat(3, 15);
        std::uniform_int_distribution<int> day(FirstDay, std::max<int>(FirstDay, today()));
        Record& e = queue.record();
        for (std::int64_t n = 1; n <= wanted; ++n) {
            const int r = number(random_);
            e.set("F1", Value(std::string(static_cast<std::size_t>(repeat(random_)),
                                          static_cast<char>(65 + r % 26))));
            e.set("F2", Value(r));
            e.set("F3", Value(r % 7 + 1));
            e.set("F4", Value(Decimal::fromParts(r, 2)));
            e.set("F5", Value(day(random_)));
            queue.add();
        }
        fw::pushQueueRows(WINDOW, List, queue);
        showFilled();
    }

    HandListSorvex sorvex_;
    std::mt19937 random_{std::random_device{}()};
};

} // namespace

void registerMemoryLists() {
    win::registerWindowResource(FileLoadedListResource, [] {
        return listSpec("File/View Loaded List", FileFormat, "Number of records in Queue:", false);
    });
    win::registerWindowResource(HandCodedListResource, [] {
        return listSpec("A Hand-Coded Queue(Random Data)", HandFormat, "No of Queue Records:", true);
    });
}

void FileLoadedList() {
    FileLoadedWindow window;
    window.Run();
}

void HandCodedList() {
    HandCodedWindow window;
    window.Run();
}

} // namespace sorv::app
