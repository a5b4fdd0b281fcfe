#include "gui/learn_variables_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "gui/create_variables_dialog.h"
#include "gui/generate_traps_dialog.h"
#include "gui/korvan_window.h"

namespace korvimo::gui {

namespace {

using app::LearnVariablesControl;
using app::LearnVariablesList;

// The lists in their order on the form, with their labels.
struct ListRow {
    LearnVariablesList list;
    const char* label;
};
constexpr ListRow kListRows[] = {
    {LearnVariablesList::Teacher, kTeacherLabel},
    {LearnVariablesList::File, kLearnedFileLabel},
    {LearnVariablesList::Community, kLearnCommunityLabel},
    {LearnVariablesList::Timeout, kTimeoutLabel},
    {LearnVariablesList::Retries, kRetriesLabel},
    {LearnVariablesList::Start, kWalkStartLabel},
    {LearnVariablesList::End, kWalkEndLabel},
};

std::string& formText(app::LearnVariablesForm& form, LearnVariablesList list) {
    switch (list) {
        case LearnVariablesList::Teacher:
            return form.teacher;
        case LearnVariablesList::File:
            return form.file;
        case LearnVariablesList::Community:
            return form.community;
        case LearnVariablesList::Timeout:
            return form.timeout;
        case LearnVariablesList::Retries:
            return form.retries;
        case LearnVariablesList::Start:
            return form.start;
        case LearnVariablesList::End:
            break;
    }
    return form.end;
}

}  // namespace

LearnVariablesDialog::LearnVariablesDialog(app::LearnVariables& learn,
                                           const app::DesktopCommands& commands,
                                           const Launcher& launch, QWidget* parent)
    : QDialog(parent), logic_(learn), commands_(commands), launch_(launch) {
    setWindowTitle(kLearnVariablesTitle);
    setModal(true);
    buildForm();
    statusView_ = std::make_unique<StatusListView>(logic_.status(), statusWidget_);
    // A run that ends by itself (completed, the teacher silent, a failure) changes the buttons.
    logic_.onFinished = [this] { showControls(); };
    setSizeGripEnabled(true);
    resize(560, 520);
}

LearnVariablesDialog::~LearnVariablesDialog() {
    logic_.onFinished = nullptr;
}

QComboBox* LearnVariablesDialog::list(LearnVariablesList list) const {
    return lists_[static_cast<int>(list)];
}

void LearnVariablesDialog::buildForm() {
    auto* grid = new QGridLayout;
    int row = 0;
    for (const ListRow& shown : kListRows) {
        QComboBox* box = editableList();
        lists_[static_cast<int>(shown.list)] = box;
        grid->addWidget(labelFor(shown.label, box), row, 0);
        grid->addWidget(box, row, 1);
        if (shown.list == LearnVariablesList::File) {
            browse_ = new QPushButton(kBrowseText);
            view_ = new QPushButton(kViewText);
            auto* fileButtons = new QHBoxLayout;
            fileButtons->addWidget(browse_);
            fileButtons->addWidget(view_);
            grid->addLayout(fileButtons, row, 2);
        }
        ++row;
    }
    // The walk lists hold every object of mibinfo.out: their width does not follow the
    // longest name.
    for (const LearnVariablesList walk : {LearnVariablesList::Start, LearnVariablesList::End}) {
        list(walk)->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list(walk)->setMinimumContentsLength(24);
    }

    v1_ = new QRadioButton(kSnmpV1Text);
    v2c_ = new QRadioButton(kSnmpV2CText);
    auto* versions = new QButtonGroup(this);
    auto* versionRow = new QHBoxLayout;
    for (QRadioButton* choice : {v1_, v2c_}) {
        versions->addButton(choice);
        versionRow->addWidget(choice);
    }
    versionRow->addStretch();
    grid->addLayout(versionRow, row++, 1, 1, 2);
    templates_ = new QCheckBox;
    grid->addWidget(labelFor(kTemplatesLabel, templates_), row, 0);
    grid->addWidget(templates_, row, 1);
    grid->setColumnStretch(1, 1);

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    // Enter in a field starts, as it would in the form this dialog draws; Browse is never
    // the button Enter presses.
    start_ = new QPushButton(kStartText);
    start_->setDefault(true);
    stop_ = new QPushButton(kStopText);
    close_ = new QPushButton(kCloseText);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addWidget(close_);

    auto* page = new QVBoxLayout(this);
    page->addLayout(grid);
    page->addWidget(labelFor(kStatusLabel, statusWidget_));
    page->addWidget(statusWidget_, 1);
    page->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, &LearnVariablesDialog::start);
    connect(stop_, &QPushButton::clicked, this, &LearnVariablesDialog::stop);
    connect(browse_, &QPushButton::clicked, this, &LearnVariablesDialog::browse);
    connect(view_, &QPushButton::clicked, this, &LearnVariablesDialog::view);
    connect(close_, &QPushButton::clicked, this, &LearnVariablesDialog::reject);
}

int LearnVariablesDialog::run() {
    showLists();
    showControls();
    list(LearnVariablesList::Teacher)->setFocus();
    return exec();
}

void LearnVariablesDialog::showLists() {
    app::LearnVariablesForm& form = logic_.form();
    for (const ListRow& shown : kListRows) {
        QComboBox* box = list(shown.list);
        QStringList items;
        for (const std::string& value : logic_.history(shown.list)) {
            items << qtext(value);
        }
        box->clear();
        box->addItems(items);
        box->setEditText(qtext(formText(form, shown.list)));
    }
    (form.v2c ? v2c_ : v1_)->setChecked(true);
    templates_->setChecked(form.templates);
}

void LearnVariablesDialog::showControls() {
    start_->setEnabled(logic_.enabled(LearnVariablesControl::Start));
    stop_->setEnabled(logic_.enabled(LearnVariablesControl::Stop));
    view_->setEnabled(logic_.enabled(LearnVariablesControl::View));
}

void LearnVariablesDialog::readForm() {
    app::LearnVariablesForm& form = logic_.form();
    for (const ListRow& shown : kListRows) {
        formText(form, shown.list) = list(shown.list)->currentText().toStdString();
    }
    form.v2c = v2c_->isChecked();
    form.templates = templates_->isChecked();
}

void LearnVariablesDialog::start() {
    readForm();
    // The texts as taken and the histories they went into; a start refused at a late step
    // has already put the early texts into theirs.
    logic_.start();
    showLists();
    showControls();
}

void LearnVariablesDialog::stop() {
    logic_.stop();
    showControls();
}

void LearnVariablesDialog::browse() {
    if (const std::optional<std::string> chosen = chooseFile(this, commands_.browseChooser())) {
        list(LearnVariablesList::File)
            ->setEditText(qtext(app::DesktopCommands::agentFileFromChoice(*chosen)));
    }
}

void LearnVariablesDialog::view() {
    launchOrExplain(
        this, launch_,
        commands_.viewControlFile(list(LearnVariablesList::File)->currentText().toStdString()));
}

void LearnVariablesDialog::reject() {
    logic_.close();
    showControls();
    QDialog::reject();
}

}  // namespace korvimo::gui
