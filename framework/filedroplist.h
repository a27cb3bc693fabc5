// The file drop list: fills a list box with every record of a view (a drop-down list of a form,
// or a list held whole in memory) and, when the user picks an entry, copies fields of its record
// into the form's fields. It is a view manager registered with its window manager as a file drop,
// which hands it the window's events and resets it with the window.
//
// What it keeps true:
// - The queue holds one entry per record the view kept at the last fill, in the view's order,
//   each with its record's view position; it is read again only when the view's range limits
//   changed, when a reload is forced, or before the first fill (LOADED 0).
// - The list shows the queue as it stands after every fill, with the entry of the form's current
//   value selected (or the first, with DEFAULTFILL, when no entry has it).
// - The view is closed between fills and selections: nothing stays open while the user looks.
#pragma once
#include "framework/listrows.h"
#include "framework/viewmanager.h"
#include "framework/windowmanager.h"
#include "runtime/queue.h"

#include <cstdint>
#include <memory>

namespace sorv::fw {

class FileDropList : public ViewManager, public WindowFileDrop {
public:
    // Fields in declaration order, following the view manager's.
    FieldPairList* DISPLAYFIELDS = nullptr; // LEFT: the queue's display field, RIGHT: the file field
    FieldPairList* UPDATEFIELDS = nullptr;  // LEFT: the form field, RIGHT: the file field it takes
    WindowManager* WINDOW = nullptr;
    std::uint8_t DEFAULTFILL = 1;  // no entry matches the form: the first entry is taken
    std::uint8_t INITSYNCPAIR = 1; // the update pair whose form value names the current entry
    std::int32_t LISTCONTROL = 0;
    Queue* LISTQUEUE = nullptr;
    std::uint8_t LOADED = 0;
    FieldRef VIEWPOSITION; // the queue field that holds each entry's view position

    FileDropList();
    ~FileDropList() override;

    // Stores the list, the queue's position field, the view, the queue, the primary file and the
    // window (whose window is open), and gives a list without a format one column of the
    // control's width less 16 showing the control's text as its picture.
    void Init(int listControl, const FieldRef& viewPosition, View& view, Queue& queue, ViewPrimary& primary,
              WindowManager& window);
    // Pairs a queue field with a file field it shows, and a form field with a file field it takes.
    void AddField(const FieldRef& queueField, const FieldRef& fileField);
    void AddUpdateField(const FieldRef& formField, const FieldRef& fileField);

    // Operations in slot order.
    Level HandleEvent(const win::Event& e) override;
    virtual void FillQueue(bool force = false);
    virtual void FillRowFromRecord();
    virtual void HandleAccepted();
    virtual void HandleNewSelection();
    virtual std::uint8_t IsUpToDate();
    void Kill() override;

    // The window manager's reset.
    void ResetQueue(bool force) override { FillQueue(force); }

    // The entry chosen in the list (1-based; 0 none).
    std::int64_t selected();

private:
    // Copies the update pairs from the record of the entry's position; clears the form fields of
    // the pairs when it cannot be read.
    void takeEntry(std::int64_t entry);
    void clearUpdateFields();
    std::unique_ptr<FieldPairList> display_, update_;
    QueueListView shown_;
};

} // namespace sorv::fw
