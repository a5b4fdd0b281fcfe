#include "gui/create_variables_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
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

namespace {

using app::CreateVariablesControl;
using app::CreateVariablesList;

}  // namespace

CreateVariablesDialog::CreateVariablesDialog(app::CreateVariables& create,
                                             const app::DesktopCommands& commands,
                                             const Launcher& launch, QWidget* parent)
    : QDialog(parent), logic_(create), commands_(commands), launch_(launch) {
    setWindowTitle(kCreateVariablesTitle);
    setModal(true);
    buildForm();
    statusView_ = std::make_unique<StatusListView>(logic_.status(), statusWidget_);
    // A run that ends by itself (completed, or a write failure) changes the buttons.
    logic_.onFinished = [this] { showControls(); };
    setSizeGripEnabled(true);
    resize(520, 420);
}

CreateVariablesDialog::~CreateVariablesDialog() {
    logic_.onFinished = nullptr;
}

void CreateVariablesDialog::buildForm() {
    auto* grid = new QGridLayout;
    file_ = editableList();
    rows_ = editableList();
    browse_ = new QPushButton(kBrowseText);
    view_ = new QPushButton(kViewText);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(browse_);
    fileButtons->addWidget(view_);
    templates_ = new QCheckBox;
    grid->addWidget(labelFor(kVariablesFileLabel, file_), 0, 0);
    grid->addWidget(file_, 0, 1);
    grid->addLayout(fileButtons, 0, 2);
    grid->addWidget(labelFor(kRowsLabel, rows_), 1, 0);
    grid->addWidget(rows_, 1, 1);
    grid->addWidget(labelFor(kTemplatesLabel, templates_), 2, 0);
    grid->addWidget(templates_, 2, 1);
    grid->setColumnStretch(1, 1);

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    start_ = new QPushButton(kStartText);
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

    connect(start_, &QPushButton::clicked, this, &CreateVariablesDialog::start);
    connect(stop_, &QPushButton::clicked, this, &CreateVariablesDialog::stop);
    connect(browse_, &QPushButton::clicked, this, &CreateVariablesDialog::browse);
    connect(view_, &QPushButton::clicked, this, &CreateVariablesDialog::view);
    connect(close_, &QPushButton::clicked, this, &CreateVariablesDialog::reject);
}

int CreateVariablesDialog::run() {
    showLists();
    showControls();
    file_->setFocus();
    return exec();
}

void CreateVariablesDialog::showLists() {
    const std::pair<QComboBox*, CreateVariablesList> lists[] = {
        {file_, CreateVariablesList::File},
        {rows_, CreateVariablesList::Rows},
    };
    for (const auto& [box, which] : lists) {
        box->clear();
        for (const std::string& value : logic_.history(which)) {
            box->addItem(qtext(value));
        }
    }
    file_->setEditText(qtext(logic_.form().file));
    rows_->setEditText(qtext(logic_.form().rows));
    templates_->setChecked(logic_.form().templates);
}

void CreateVariablesDialog::showControls() {
    start_->setEnabled(logic_.enabled(CreateVariablesControl::Start));
    stop_->setEnabled(logic_.enabled(CreateVariablesControl::Stop));
    view_->setEnabled(logic_.enabled(CreateVariablesControl::View));
}

void CreateVariablesDialog::start() {
    app::CreateVariablesForm& form = logic_.form();
    form.file = file_->currentText().toStdString();
    form.rows = rows_->currentText().toStdString();
    form.templates = templates_->isChecked();
    if (logic_.start()) {
        showLists();  // the file text as taken, and the histories it went into
    }
    showControls();
}

void CreateVariablesDialog::stop() {
    logic_.stop();
    showControls();
}

void CreateVariablesDialog::browse() {
    if (const std::optional<std::string> chosen = chooseFile(this, commands_.browseChooser())) {
        file_->setEditText(qtext(app::DesktopCommands::agentFileFromChoice(*chosen)));
    }
}

void CreateVariablesDialog::view() {
    launchOrExplain(this, launch_, commands_.viewControlFile(file_->currentText().toStdString()));
}

void CreateVariablesDialog::reject() {
    logic_.close();
    showControls();
    QDialog::reject();
}

}  // namespace korvimo::gui
