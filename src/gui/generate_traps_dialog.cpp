#include "gui/generate_traps_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "gui/korvan_window.h"

namespace korvimo::gui {

namespace {

using traps::TrapKind;

}  // namespace

GenerateTrapsDialog::GenerateTrapsDialog(app::GenerateTraps& traps,
                                         const app::DesktopCommands& commands,
                                         const Launcher& launch, QWidget* parent)
    : QDialog(parent), logic_(traps), commands_(commands), launch_(launch) {
    setWindowTitle(kGenerateTrapsTitle);
    setModal(true);
    buildForm();
    statusView_ = std::make_unique<StatusListView>(logic_.status(), statusWidget_);
    setSizeGripEnabled(true);
    resize(560, 600);
}

GenerateTrapsDialog::~GenerateTrapsDialog() = default;

void GenerateTrapsDialog::buildForm() {
    auto* grid = new QGridLayout;
    trapFile_ = editableList();
    manager_ = editableList();
    community_ = editableList();
    browse_ = new QPushButton(kBrowseText);
    view_ = new QPushButton(kViewText);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(browse_);
    fileButtons->addWidget(view_);
    grid->addWidget(labelFor(kTrapFileLabel, trapFile_), 0, 0);
    grid->addWidget(trapFile_, 0, 1);
    grid->addLayout(fileButtons, 0, 2);
    grid->addWidget(labelFor(kManagerLabel, manager_), 1, 0);
    grid->addWidget(manager_, 1, 1);
    grid->addWidget(labelFor(kTrapCommunityLabel, community_), 2, 0);
    grid->addWidget(community_, 2, 1);

    v1Trap_ = new QRadioButton(app::kV1TrapChoiceText);
    notification_ = new QRadioButton(app::kV2cNotificationChoiceText);
    inform_ = new QRadioButton(app::kV2cInformChoiceText);
    v3Notification_ = new QRadioButton(app::kV3NotificationChoiceText);
    v3Inform_ = new QRadioButton(app::kV3InformChoiceText);
    auto* versions = new QButtonGroup(this);
    auto* versionRows = new QVBoxLayout;
    auto* v2Row = new QHBoxLayout;
    auto* v3Row = new QHBoxLayout;
    for (QRadioButton* choice : {v1Trap_, notification_, inform_}) {
        versions->addButton(choice);
        v2Row->addWidget(choice);
    }
    for (QRadioButton* choice : {v3Notification_, v3Inform_}) {
        versions->addButton(choice);
        v3Row->addWidget(choice);
    }
    v2Row->addStretch();
    v3Row->addStretch();
    versionRows->addLayout(v2Row);
    versionRows->addLayout(v3Row);
    grid->addWidget(new QLabel(kVersionLabel), 3, 0);
    grid->addLayout(versionRows, 3, 1, 1, 2);
    user_ = editableList();
    grid->addWidget(labelFor(kTrapUserLabel, user_), 4, 0);
    grid->addWidget(user_, 4, 1);
    grid->setColumnStretch(1, 1);

    traps_ = new QListWidget;
    traps_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    send_ = new QPushButton(kSendText);
    selectAll_ = new QPushButton(kSelectAllText);
    auto* trapButtons = new QVBoxLayout;
    trapButtons->addWidget(send_);
    trapButtons->addWidget(selectAll_);
    trapButtons->addStretch();
    auto* trapRow = new QHBoxLayout;
    trapRow->addWidget(traps_, 1);
    trapRow->addLayout(trapButtons);

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    // The form's default button loads the named file. It stays hidden, so Enter presses it
    // from the trap file field alone (below) and never picks a visible button by itself;
    // Enter on a focused button still presses that button.
    auto* start = new QPushButton(kStartText);
    start->setDefault(true);
    start->setVisible(false);
    close_ = new QPushButton(kCloseText);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(start);
    closeRow->addWidget(close_);

    auto* page = new QVBoxLayout(this);
    page->addLayout(grid);
    page->addWidget(labelFor(kTrapsLabel, traps_));
    page->addLayout(trapRow, 1);
    page->addWidget(labelFor(kStatusLabel, statusWidget_));
    page->addWidget(statusWidget_, 1);
    page->addLayout(closeRow);

    connect(trapFile_->lineEdit(), &QLineEdit::returnPressed, start, &QPushButton::click);
    connect(start, &QPushButton::clicked, this, &GenerateTrapsDialog::load);
    connect(browse_, &QPushButton::clicked, this, &GenerateTrapsDialog::browse);
    connect(view_, &QPushButton::clicked, this, &GenerateTrapsDialog::view);
    connect(send_, &QPushButton::clicked, this, &GenerateTrapsDialog::send);
    connect(selectAll_, &QPushButton::clicked, this, &GenerateTrapsDialog::selectAll);
    connect(close_, &QPushButton::clicked, this, &GenerateTrapsDialog::reject);
}

int GenerateTrapsDialog::run() {
    showForm();
    return exec();
}

void GenerateTrapsDialog::showForm() {
    const app::GenerateTrapsForm& form = logic_.form();
    trapFile_->setEditText(qtext(form.trapFile));
    const std::pair<QComboBox*, app::TrapsList> lists[] = {
        {manager_, app::TrapsList::Manager},
        {community_, app::TrapsList::Community},
    };
    for (const auto& [box, which] : lists) {
        box->clear();
        for (const std::string& value : logic_.history(which)) {
            box->addItem(qtext(value));
        }
    }
    manager_->setEditText(qtext(form.manager));
    community_->setEditText(qtext(form.community));
    user_->clear();
    for (const std::string& name : logic_.userNames()) {
        user_->addItem(qtext(name));
    }
    user_->setEditText(qtext(form.user));
    choice(logic_.kind())->setChecked(true);
    showTraps();
    showLoaded();
    trapFile_->setFocus();
}

void GenerateTrapsDialog::showTraps() {
    traps_->clear();
    for (const std::string& name : logic_.trapNames()) {
        traps_->addItem(qtext(name));
    }
    for (const std::size_t row : logic_.form().selected) {
        if (QListWidgetItem* item = traps_->item(static_cast<int>(row))) {
            item->setSelected(true);
        }
    }
    selectAll_->setText(logic_.allSelected() ? kUnselectAllText : kSelectAllText);
}

void GenerateTrapsDialog::showLoaded() {
    const bool loaded = logic_.loaded();
    for (QWidget* control :
         std::initializer_list<QWidget*>{manager_, community_, user_, send_, traps_}) {
        control->setEnabled(loaded);
    }
}

void GenerateTrapsDialog::readForm() {
    app::GenerateTrapsForm& form = logic_.form();
    form.trapFile = trapFile_->currentText().toStdString();
    form.manager = manager_->currentText().toStdString();
    form.community = community_->currentText().toStdString();
    form.user = user_->currentText().toStdString();
    form.selected.clear();
    for (int row = 0; row < traps_->count(); ++row) {
        if (traps_->item(row)->isSelected()) {
            form.selected.push_back(static_cast<std::size_t>(row));
        }
    }
    logic_.kind() = notification_->isChecked()     ? TrapKind::Notification
                    : inform_->isChecked()         ? TrapKind::Inform
                    : v3Notification_->isChecked() ? TrapKind::V3Notification
                    : v3Inform_->isChecked()       ? TrapKind::V3Inform
                                                   : TrapKind::V1Trap;
}

QRadioButton* GenerateTrapsDialog::choice(TrapKind kind) const {
    switch (kind) {
        case TrapKind::V1Trap:
            return v1Trap_;
        case TrapKind::Notification:
            return notification_;
        case TrapKind::Inform:
            return inform_;
        case TrapKind::V3Notification:
            return v3Notification_;
        case TrapKind::V3Inform:
            return v3Inform_;
    }
    return v1Trap_;
}

void GenerateTrapsDialog::load() {
    logic_.form().trapFile = trapFile_->currentText().toStdString();
    logic_.load();
    showTraps();
    showLoaded();
}

void GenerateTrapsDialog::browse() {
    if (const std::optional<std::string> chosen = chooseFile(this, commands_.trapFileChooser())) {
        trapFile_->setEditText(qtext(app::DesktopCommands::agentFileFromChoice(*chosen)));
        load();
    }
}

void GenerateTrapsDialog::view() {
    launchOrExplain(this, launch_, commands_.viewTrapFile(trapFile_->currentText().toStdString()));
}

void GenerateTrapsDialog::send() {
    readForm();
    logic_.send();
    showLoaded();
}

void GenerateTrapsDialog::selectAll() {
    const bool all = logic_.selectAll();
    if (all) {
        traps_->selectAll();
    } else {
        traps_->clearSelection();
    }
    selectAll_->setText(all ? kUnselectAllText : kSelectAllText);
}

void GenerateTrapsDialog::reject() {
    logic_.close();
    QDialog::reject();
}

}  // namespace korvimo::gui
