// The primary file of a browse or view over a table of the data dictionary: it reaches the table
// through its relation manager and file manager, so that the view counts as a user of the files
// (opened lazily, closed after the last user of the thread), new records are primed by the file
// manager (automatic numbers reserved), quick scanning reaches the related files, and every
// failure is a numbered message naming the table.
#pragma once
#include "framework/relationmanager.h"
#include "framework/viewmanager.h"

#include <vector>

namespace sorv::fw {

class RelationViewPrimary : public ViewPrimary {
public:
    explicit RelationViewPrimary(RelationManager& relation) : relation_(relation) {}
    // A joined file of the view (related or not): it is opened, really, and closed with the
    // view, and its buffer is cleared with the primary's.
    void AddViewFile(FileManager& file) { viewFiles_.push_back(&file); }

    // The calling thread's declaration (the view's table must be made over this one).
    FileDecl& File() override { return relation_.ME->file(); }
    void ClearViewBuffers() override;
    Level PrimeBuffer(bool keepBuffer) override;
    void SwitchQuickScan(bool on) override;
    Level Raise(int number) override;
    Level RaiseReadError() override;
    Level OpenFiles() override;
    void CloseFiles() override;

    RelationManager& relation() { return relation_; }

private:
    RelationManager& relation_;
    std::vector<FileManager*> viewFiles_;
};

} // namespace sorv::fw
