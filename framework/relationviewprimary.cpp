// The primary file of a view through the table's relation and file managers.
#include "framework/relationviewprimary.h"

namespace sorv::fw {

namespace {

constexpr int MsgRetrieval = 1;

void clearRecord(FileManager& f) {
    FileDecl& d = f.file();
    d.record.clear();
    d.memoValues.assign(d.memos.size(), std::string());
}

} // namespace

void RelationViewPrimary::ClearViewBuffers() {
    clearRecord(*relation_.ME);
    for (FileManager* f : viewFiles_) clearRecord(*f);
}

Level RelationViewPrimary::PrimeBuffer(bool keepBuffer) {
    return relation_.ME->PrimeBuffer(keepBuffer);
}

void RelationViewPrimary::SwitchQuickScan(bool on) {
    relation_.SwitchQuickScan(on, true);
}

Level RelationViewPrimary::Raise(int number) {
    return relation_.ME->Raise(number);
}

Level RelationViewPrimary::RaiseReadError() {
    return relation_.ME->Raise(MsgRetrieval);
}

Level RelationViewPrimary::OpenFiles() {
    if (Level l = relation_.Open()) return l;
    // The view reads the files itself, so a lazily opened file must be really open now.
    if (Level l = relation_.ME->EnsureFileOpen()) {
        relation_.Close();
        return l;
    }
    for (std::size_t i = 0; i < viewFiles_.size(); ++i) {
        FileManager& f = *viewFiles_[i];
        Level l = f.Open(); // a failed open counts no user
        if (l == LevelNone) {
            l = f.EnsureFileOpen();
            if (l != LevelNone) f.Close();
        }
        if (l != LevelNone) {
            for (std::size_t j = 0; j < i; ++j) viewFiles_[j]->Close();
            relation_.Close();
            return l;
        }
    }
    return LevelNone;
}

void RelationViewPrimary::CloseFiles() {
    for (FileManager* f : viewFiles_) f->Close();
    relation_.Close();
}

} // namespace sorv::fw
