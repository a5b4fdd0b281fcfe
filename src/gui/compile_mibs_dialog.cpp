#include "gui/compile_mibs_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "gui/generate_traps_dialog.h"
#include "gui/korvan_window.h"

namespace korvimo::gui {

CompileMibsDialog::CompileMibsDialog(app::CompileMibs& compile,
                                     const app::DesktopCommands& commands, const Launcher& launch,
                                     QWidget* parent)
    : QDialog(parent), logic_(compile), commands_(commands), launch_(launch) {
    setWindowTitle(kCompileMibsTitle);
    setModal(true);
    buildForm();
    statusView_ = std::make_unique<StatusListView>(logic_.status(), statusWidget_);
    // The batch ends by itself (completed or failed): Compile comes back.
    logic_.onFinished = [this] { showControls(); };
    setSizeGripEnabled(true);
    resize(560, 520);
}

CompileMibsDialog::~CompileMibsDialog() {
    logic_.onFinished = nullptr;
}

void CompileMibsDialog::buildForm() {
    mibs_ = new QListWidget;
    mibs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mibs_->setSortingEnabled(false);  // the controller's order: sorted without regard to case

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    compile_ = new QPushButton(kCompileText);
    errorsLog_ = new QPushButton(kErrorsLogText);
    close_ = new QPushButton(kCloseText);
    compile_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {compile_, errorsLog_, close_}) {
        buttons->addWidget(button);
    }

    auto* page = new QVBoxLayout(this);
    page->addWidget(labelFor(kMibsLabel, mibs_));
    page->addWidget(mibs_, 2);
    page->addWidget(labelFor(kStatusLabel, statusWidget_));
    page->addWidget(statusWidget_, 1);
    page->addLayout(buttons);

    connect(compile_, &QPushButton::clicked, this, &CompileMibsDialog::compile);
    connect(errorsLog_, &QPushButton::clicked, this, &CompileMibsDialog::errorsLog);
    connect(close_, &QPushButton::clicked, this, &CompileMibsDialog::reject);
}

int CompileMibsDialog::run() {
    showMibs();
    showControls();
    mibs_->setFocus();
    return exec();
}

void CompileMibsDialog::showMibs() {
    mibs_->clear();
    for (const std::string& entry : logic_.mibs()) {
        mibs_->addItem(qtext(entry));
    }
}

void CompileMibsDialog::showControls() {
    compile_->setEnabled(!logic_.running());
}

void CompileMibsDialog::compile() {
    // The selection in list order, as the batch compiles it.
    const std::vector<std::string>& entries = logic_.mibs();
    std::vector<std::string> selected;
    for (int row = 0; row < mibs_->count(); ++row) {
        const auto index = static_cast<std::size_t>(row);
        if (mibs_->item(row)->isSelected() && index < entries.size()) {
            selected.push_back(entries[index]);
        }
    }
    logic_.compile(selected);
    showControls();
}

void CompileMibsDialog::errorsLog() {
    launchOrExplain(this, launch_, commands_.editFile(logic_.errorsLogPath()));
}

void CompileMibsDialog::reject() {
    logic_.close();
    showControls();
    QDialog::reject();
}

}  // namespace korvimo::gui
