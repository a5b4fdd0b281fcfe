#include "gui/create_traps_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "gui/generate_traps_dialog.h"
#include "gui/korvan_window.h"

namespace korvimo::gui {

CreateTrapsDialog::CreateTrapsDialog(app::CreateTraps& create, const app::DesktopCommands& commands,
                                     const Launcher& launch, QWidget* parent)
    : QDialog(parent), logic_(create), commands_(commands), launch_(launch) {
    setWindowTitle(kCreateTrapsTitle);
    setModal(true);
    buildForm();
    statusView_ = std::make_unique<StatusListView>(logic_.status(), statusWidget_);
    setSizeGripEnabled(true);
    resize(520, 460);
}

CreateTrapsDialog::~CreateTrapsDialog() {
    logic_.onFinished = nullptr;
}

void CreateTrapsDialog::buildForm() {
    trapFile_ = editableList();
    browse_ = new QPushButton(kBrowseText);
    view_ = new QPushButton(kViewText);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(labelFor(kTrapFileLabel, trapFile_));
    fileRow->addWidget(trapFile_, 1);
    fileRow->addWidget(browse_);
    fileRow->addWidget(view_);

    include_ = new QCheckBox(kIncludeThemText);
    include_->setLayoutDirection(Qt::RightToLeft);  // the text before the box
    enterprise_ = editableList();
    auto* group = new QGroupBox(kStandardTrapsGroupText);
    auto* groupGrid = new QGridLayout(group);
    groupGrid->addWidget(include_, 0, 0, 1, 2, Qt::AlignLeft);
    groupGrid->addWidget(labelFor(kEnterpriseIdLabel, enterprise_), 1, 0);
    groupGrid->addWidget(enterprise_, 1, 1);
    groupGrid->setColumnStretch(1, 1);

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    start_ = new QPushButton(kStartText);
    stop_ = new QPushButton(kStopText);
    close_ = new QPushButton(kCloseText);
    start_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {start_, stop_, close_}) {
        buttons->addWidget(button);
    }

    auto* page = new QVBoxLayout(this);
    page->addLayout(fileRow);
    page->addWidget(group);
    page->addWidget(labelFor(kStatusLabel, statusWidget_));
    page->addWidget(statusWidget_, 1);
    page->addLayout(buttons);

    connect(browse_, &QPushButton::clicked, this, &CreateTrapsDialog::browse);
    connect(view_, &QPushButton::clicked, this, &CreateTrapsDialog::view);
    connect(start_, &QPushButton::clicked, this, &CreateTrapsDialog::start);
    connect(stop_, &QPushButton::clicked, this, &CreateTrapsDialog::stop);
    connect(close_, &QPushButton::clicked, this, &CreateTrapsDialog::reject);
}

int CreateTrapsDialog::run() {
    logic_.onFinished = [this] { showControls(); };
    showForm();
    return exec();
}

void CreateTrapsDialog::showForm() {
    const app::CreateTrapsForm& form = logic_.form();
    const std::pair<QComboBox*, app::CreateTrapsList> lists[] = {
        {trapFile_, app::CreateTrapsList::TrapFile},
        {enterprise_, app::CreateTrapsList::Enterprise},
    };
    for (const auto& [box, which] : lists) {
        box->clear();
        for (const std::string& value : logic_.history(which)) {
            box->addItem(qtext(value));
        }
    }
    trapFile_->setEditText(qtext(form.trapFile));
    enterprise_->setEditText(qtext(form.enterprise));
    include_->setChecked(form.includeStandardTraps);
    // Set at dialog start only: the check box does not change it later.
    enterprise_->setEnabled(logic_.enabled(app::CreateTrapsControl::EnterpriseList));
    showControls();
    trapFile_->setFocus();
}

void CreateTrapsDialog::showControls() {
    view_->setEnabled(logic_.enabled(app::CreateTrapsControl::View));
    start_->setEnabled(logic_.enabled(app::CreateTrapsControl::Start));
    stop_->setEnabled(logic_.enabled(app::CreateTrapsControl::Stop));
}

void CreateTrapsDialog::browse() {
    if (const std::optional<std::string> chosen =
            chooseFile(this, commands_.createTrapFileChooser())) {
        trapFile_->setEditText(qtext(app::DesktopCommands::agentFileFromChoice(*chosen)));
    }
}

void CreateTrapsDialog::view() {
    launchOrExplain(this, launch_, commands_.viewTrapFile(logic_.form().trapFile));
}

void CreateTrapsDialog::start() {
    app::CreateTrapsForm& form = logic_.form();
    form.trapFile = trapFile_->currentText().toStdString();
    form.includeStandardTraps = include_->isChecked();
    form.enterprise = enterprise_->currentText().toStdString();
    if (logic_.start()) {
        // The file text as taken, its suffix added; its history has it first now.
        trapFile_->clear();
        for (const std::string& value : logic_.history(app::CreateTrapsList::TrapFile)) {
            trapFile_->addItem(qtext(value));
        }
        trapFile_->setEditText(qtext(form.trapFile));
    }
    showControls();
}

void CreateTrapsDialog::stop() {
    logic_.stop();
    showControls();
}

void CreateTrapsDialog::reject() {
    logic_.close();
    logic_.onFinished = nullptr;
    QDialog::reject();
}

}  // namespace korvimo::gui
