// What the program's browse lists share.
#include "app/browselists.h"

#include "data/view.h"
#include "data/viewfile.h"
#include "framework/inimanager.h"
#include "framework/locators.h"
#include "framework/relationviewprimary.h"
#include "framework/steps.h"
#include "windowing/desktop.h"

namespace sorv::app {

namespace {

Layout stateLayout() {
    Layout l;
    l.addDecimal("LOC:PopupMask", 11, 0); // six bytes, no decimal places
    return l;
}

} // namespace

bool OpenRelations::open(fw::RelationManager& relation) {
    if (relation.Open() != fw::LevelNone) return false;
    opened_.push_back(&relation);
    return true;
}

void OpenRelations::close() {
    while (!opened_.empty()) {
        opened_.back()->Close();
        opened_.pop_back();
    }
}

ListView::ListView() = default;
ListView::~ListView() = default;

void ListView::open(fw::RelationManager& relation) {
    primary_ = std::make_unique<fw::RelationViewPrimary>(relation);
    tables_.push_back(std::make_unique<FileViewTable>(primary_->File()));
    view_ = std::make_unique<View>(*tables_.front(), ViewTraceSettings::fromDesktopProfile());
}

void ListView::join(fw::FileManager& file, int key, const std::string& field) {
    primary_->AddViewFile(file);
    tables_.push_back(std::make_unique<FileViewTable>(file.file()));
    view_->join(0, *tables_.back(), key, {primary_->File().record.layout().find(field)});
}

void ListView::close() {
    view_.reset();
}

std::unique_ptr<fw::Step> longStep() {
    auto step = std::make_unique<fw::LongStep>();
    step->Init(0);
    return step;
}

SorvexListState::SorvexListState() : locals(stateLayout()) {}

bx::SorvexOwnerRefs SorvexListState::refs(fw::WindowManager& window, std::uint32_t popupMask) {
    locals.set("LOC:PopupMask", Value(static_cast<std::int64_t>(popupMask)));
    titleText = window.WINDOW.caption();
    bx::SorvexOwnerRefs refs;
    refs.viewOrder = &viewOrder;
    refs.sequenceNbr = &sequenceNbr;
    refs.mask = locals.ref("LOC:PopupMask");
    refs.fileSeqOn = &fileSeqOn;
    refs.titleText = &titleText;
    return refs;
}

void SorvexListState::exportSettings(bx::Sorvex& sorvex) {
    sorvex.SEPARATOR = ",";
    sorvex.BROWSEHEADER = 1;
    sorvex.SHELLEXECUTE = 1;
}

void SorvexListState::init(bx::Sorvex& sorvex, fw::WindowManager& window, fw::BrowseManager& browse,
                           Queue& queue, int list, std::uint32_t popupMask) {
    bx::SorvexOwnerRefs r = refs(window, popupMask);
    r.allowResize = 1;
    sorvex.Init(window, browse, queue, window.WINDOW, list, "sorvdemo.INI", bx::VisualHeader, r);
    exportSettings(sorvex);
}

int SorvexListState::chosenOrder(bx::Sorvex& sorvex, int keyOrder) {
    if (fileSeqOn) return 1; // the unkeyed order: records as the file holds them
    if (!viewOrder) return keyOrder;
    win::WaitCursor busy;
    return sorvex.SortChoice();
}

void SorvexListState::clearSort(bx::Sorvex& sorvex) {
    sorvex.RestoreHeader();
    viewOrder = 0;
    sequenceNbr = 0;
    fileSeqOn = 0;
    sorvex.QNOS = 0;
}

void SorvexListState::finish(bx::Sorvex& sorvex, fw::BrowseManager& browse) {
    for (int key : {bx::skey::AdjustWidths, bx::skey::Default, bx::skey::ToggleFlag, bx::skey::ColumnMenu})
        browse.AddListAlert(key);
    sorvex.BuildBrowsePopup();
}

void SorvexListState::save(bx::Sorvex& sorvex, std::string_view list, std::string_view procedure) {
    sorvex.SaveLayout(list, procedure, viewOrder ? sequenceNbr : 0);
}

fw::Locator* ColumnLocators::add(fw::BrowseManager& browse, char kind, const FieldRef& field, int control) {
    std::unique_ptr<fw::Locator> locator;
    switch (kind) {
    case 'I':
        locator = std::make_unique<fw::IncrementalLocator>();
        break;
    case 'F':
        locator = std::make_unique<fw::FilterLocator>();
        break;
    case 'S':
        locator = std::make_unique<fw::StepLocator>();
        break;
    default:
        return nullptr;
    }
    locator->Init(control, field, true, browse);
    return add(browse, std::move(locator));
}

fw::Locator* ColumnLocators::add(fw::BrowseManager& browse, std::unique_ptr<fw::Locator> locator) {
    browse.AddLocator(locator.get());
    kept_.push_back(std::move(locator));
    return kept_.back().get();
}

} // namespace sorv::app
