// The file drop list: filling its queue from the view, the selection of the form's entry, and the
// copy of a chosen entry's fields into the form.
#include "framework/filedroplist.h"

#include "windowing/control.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <charconv>

namespace sorv::fw {

namespace {

int toInt(const std::string& s) {
    int v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

} // namespace

FileDropList::FileDropList() = default;
FileDropList::~FileDropList() = default;

void FileDropList::Init(int listControl, const FieldRef& viewPosition, View& view, Queue& queue,
                        ViewPrimary& primary, WindowManager& window) {
    LISTCONTROL = listControl;
    VIEWPOSITION = viewPosition;
    LISTQUEUE = &queue;
    WINDOW = &window;
    DEFAULTFILL = 1;
    INITSYNCPAIR = 1;
    LOADED = 0;
    display_ = std::make_unique<FieldPairList>();
    update_ = std::make_unique<FieldPairList>();
    DISPLAYFIELDS = display_.get();
    UPDATEFIELDS = update_.get();
    ViewManager::Init(view, primary);
    shown_.invalidate();
    win::Window& w = window.WINDOW;
    if (w.property(LISTCONTROL, win::listprop::Format).empty()) {
        // One column as wide as the box less its drop button, showing the text as its picture
        // (a text that is no picture gives the column none).
        const std::string text = w.text(LISTCONTROL);
        const std::string picture = text.starts_with('@') ? text + "@" : std::string();
        w.setProperty(LISTCONTROL, win::listprop::Format,
                      std::to_string(w.controlRect(LISTCONTROL).width - 16) + "L" + picture);
    }
}

void FileDropList::AddField(const FieldRef& queueField, const FieldRef& fileField) {
    DISPLAYFIELDS->push_back({queueField, fileField, Value()});
}

void FileDropList::AddUpdateField(const FieldRef& formField, const FieldRef& fileField) {
    UPDATEFIELDS->push_back({formField, fileField, Value()});
}

Level FileDropList::HandleEvent(const win::Event& e) {
    const int number = win::frameworkNumber(e.code);
    if (number == wmevent::OpenWindow && e.control == 0) {
        FillQueue(false);
    } else if (e.control == LISTCONTROL && LISTCONTROL != 0) {
        if (number == wmevent::Accepted)
            HandleAccepted();
        else if (number == wmevent::NewSelection)
            HandleNewSelection();
    }
    return LevelNone;
}

void FileDropList::FillQueue(bool force) {
    // ReloadNeeded goes first: it also notes the range limits the fill reads under.
    const bool reload = ReloadNeeded();
    if (!reload && !force && LOADED) return;
    LOADED = 1;
    win::WaitCursor waiting;
    LISTQUEUE->free();
    ResetToStart();
    std::int64_t chosen = 0;
    while (Next() == LevelNone) { // Next keeps only the records the view's checks keep
        FillRowFromRecord();
        LISTQUEUE->add();
        if (!chosen && IsUpToDate()) chosen = LISTQUEUE->records();
    }
    Close();
    const bool matched = chosen != 0;
    if (!matched && DEFAULTFILL && LISTQUEUE->records() > 0) chosen = 1;
    win::Window& w = WINDOW->WINDOW;
    shown_.show(w, LISTCONTROL, *LISTQUEUE);
    w.setProperty(LISTCONTROL, win::listprop::Selected, std::to_string(chosen));
    const int visible = toInt(w.property(LISTCONTROL, win::listprop::VisibleRows));
    w.setProperty(LISTCONTROL, win::listprop::VScroll, LISTQUEUE->records() > visible ? "1" : "0");
    // The first entry taken for a value no entry has: the form shows what the list shows.
    if (!matched && chosen) {
        takeEntry(chosen);
        w.display();
    }
}

void FileDropList::FillRowFromRecord() {
    for (FieldPair& p : *DISPLAYFIELDS) copyField(p.LEFT, p.RIGHT);
    if (VIEWPOSITION.valid()) VIEWPOSITION.set(Value(VIEW->position()));
}

void FileDropList::HandleAccepted() {}

std::int64_t FileDropList::selected() {
    const std::int64_t row = toInt(WINDOW->WINDOW.property(LISTCONTROL, win::listprop::Selected));
    return row >= 1 && row <= LISTQUEUE->records() ? row : 0;
}

void FileDropList::clearUpdateFields() {
    for (FieldPair& p : *UPDATEFIELDS)
        if (p.LEFT.valid()) p.LEFT.clear();
}

void FileDropList::takeEntry(std::int64_t entry) {
    if (UPDATEFIELDS->empty()) return; // a list that only shows: nothing to read
    LISTQUEUE->get(entry);
    const std::string position(clipRight(VIEWPOSITION.valid() ? VIEWPOSITION.get().toText() : std::string()));
    // A record deleted since the fill puts the view before its successor: that one is not it.
    if (!position.empty() && resetView(position) && Next() == LevelNone &&
        clipRight(VIEW->position()) == position) {
        for (FieldPair& p : *UPDATEFIELDS) copyField(p.LEFT, p.RIGHT);
    } else {
        clearUpdateFields();
    }
    Close();
}

void FileDropList::HandleNewSelection() {
    if (const std::int64_t entry = selected())
        takeEntry(entry);
    else
        clearUpdateFields();
    WINDOW->Reset(false);
    WINDOW->WINDOW.display();
}

std::uint8_t FileDropList::IsUpToDate() {
    if (INITSYNCPAIR == 0 || INITSYNCPAIR > UPDATEFIELDS->size()) return 0;
    const FieldPair& p = (*UPDATEFIELDS)[INITSYNCPAIR - 1u];
    if (!p.LEFT.valid() || !p.RIGHT.valid()) return 0;
    return compare(p.LEFT.get(), p.RIGHT.get()) == 0 ? 1 : 0;
}

void FileDropList::Kill() {
    update_.reset();
    display_.reset();
    UPDATEFIELDS = nullptr;
    DISPLAYFIELDS = nullptr;
    ViewManager::Kill();
}

} // namespace sorv::fw
