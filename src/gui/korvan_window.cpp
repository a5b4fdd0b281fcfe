#include "gui/korvan_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "app/home.h"
#include "gui/compile_mibs_dialog.h"
#include "gui/create_traps_dialog.h"
#include "gui/create_variables_dialog.h"
#include "gui/desktop_dialogs.h"
#include "gui/generate_traps_dialog.h"
#include "gui/learn_variables_dialog.h"

namespace korvimo::gui {

namespace {

using app::Control;
using app::MenuItem;

}  // namespace

KorvanWindow::KorvanWindow(app::MainWindow& window, const app::DesktopCommands& commands,
                           QWidget* parent)
    : QDialog(parent), window_(window), commands_(commands) {
    launch = [](const app::LaunchCommand& command) {
        QStringList arguments;
        for (std::size_t i = 1; i < command.argv.size(); ++i) {
            arguments << qtext(command.argv[i]);
        }
        return QProcess::startDetached(qtext(command.argv.front()), arguments);
    };
    traps_ = std::make_unique<app::GenerateTraps>(
        app::GenerateTrapsContext{window_.config(), window_.loop(), window_.requestIds(),
                                  window_.mibInfo(), &window_.agent()});
    createTraps_ = std::make_unique<app::CreateTraps>(app::CreateTrapsContext{
        window_.config(), window_.loop(), window_.mibInfo(), window_.busy()});
    buildForm();
    buildMenus();
    statusView_ = std::make_unique<StatusListView>(window_.status(), statusWidget_);
    // "Initializing Agent..." shows before the control file loads, however long that takes.
    window_.repaint = [this]() {
        statusWidget_->doItemsLayout();
        statusWidget_->repaint();
    };
    // The store's messages ("Cannot get index information for ...") come while the agent
    // starts. A box's own loop would deliver requests to a store that is still loading, so
    // the box shows once the command that raised it is over.
    window_.setMessageBox([this](const char* title, const char* text) {
        const QString shownTitle = QString::fromUtf8(title);
        const QString shownText = QString::fromUtf8(text);
        QMetaObject::invokeMethod(
            this,
            [this, shownTitle, shownText]() {
                QMessageBox box(QMessageBox::Warning, shownTitle, shownText, QMessageBox::Ok, this);
                box.exec();
            },
            Qt::QueuedConnection);
    });
    // Closing the window ends the program, once closeEvent has released what the agent holds.
    setAttribute(Qt::WA_QuitOnClose, true);
    setSizeGripEnabled(true);
    resize(640, 560);
}

KorvanWindow::~KorvanWindow() {
    window_.repaint = nullptr;
    window_.setMessageBox(nullptr);
}

void KorvanWindow::buildForm() {
    auto* grid = new QGridLayout;

    controlFile_ = editableList();
    readCommunity_ = editableList();
    writeCommunity_ = editableList();
    browse_ = new QPushButton(kBrowseText);
    view_ = new QPushButton(kViewText);
    int row = 0;
    auto label = [](const char* text, QWidget* buddy) {
        auto* shown = new QLabel(text);
        shown->setBuddy(buddy);
        return shown;
    };
    grid->addWidget(label(kControlFileLabel, controlFile_), row, 0);
    grid->addWidget(controlFile_, row, 1);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(browse_);
    fileButtons->addWidget(view_);
    grid->addLayout(fileButtons, row, 2);
    ++row;
    grid->addWidget(label(kReadCommunityLabel, readCommunity_), row, 0);
    grid->addWidget(readCommunity_, row, 1);
    ++row;
    grid->addWidget(label(kWriteCommunityLabel, writeCommunity_), row, 0);
    grid->addWidget(writeCommunity_, row, 1);
    ++row;

    v1_ = new QRadioButton(kSnmpV1Text);
    v2c_ = new QRadioButton(kSnmpV2CText);
    bilingual_ = new QRadioButton(kBilingualText);
    v3_ = new QRadioButton(kSnmpV3Text);
    allVersions_ = new QRadioButton(kAllVersionsText);
    v3Users_ = new QLabel;
    auto* versions = new QButtonGroup(this);
    auto* versionRow = new QHBoxLayout;
    for (QRadioButton* choice : {v1_, v2c_, bilingual_, v3_, allVersions_}) {
        versions->addButton(choice);
        versionRow->addWidget(choice);
    }
    versionRow->addWidget(v3Users_);
    versionRow->addStretch();
    grid->addWidget(new QLabel(kVersionLabel), row, 0);
    grid->addLayout(versionRow, row, 1);
    ++row;

    ipv4_ = new QRadioButton(kIPv4Text);
    ipv6_ = new QRadioButton(kIPv6Text);
    auto* transports = new QButtonGroup(this);
    auto* transportRow = new QHBoxLayout;
    for (QRadioButton* choice : {ipv4_, ipv6_}) {
        transports->addButton(choice);
        transportRow->addWidget(choice);
    }
    transportRow->addStretch();
    connect(ipv4_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            chooseTransport(IpVersion::IPv4);
        }
    });
    connect(ipv6_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            chooseTransport(IpVersion::IPv6);
        }
    });
    grid->addWidget(new QLabel(kTransportLabel), row, 0);
    grid->addLayout(transportRow, row, 1);
    ++row;

    // The box stands after its label, as the other controls do; the label names it for
    // keyboard and screen-reader users.
    debugMode_ = new QCheckBox;
    debugMode_->setAccessibleName(kDebugModeLabel);
    grid->addWidget(label(kDebugModeLabel, debugMode_), row, 0);
    grid->addWidget(debugMode_, row, 1);
    ++row;

    // The port stands beside the address, both selectable to be copied into a manager's
    // command line.
    address_ = new QLabel;
    port_ = new QLabel;
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(address_);
    addressRow->addSpacing(24);
    addressRow->addWidget(new QLabel(kAgentPortLabel));
    addressRow->addWidget(port_);
    addressRow->addStretch();
    for (QLabel* shown : {address_, port_}) {
        shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    grid->addWidget(new QLabel(kAgentAddressLabel), row, 0);
    grid->addLayout(addressRow, row, 1);
    ++row;
    grid->setColumnStretch(1, 1);

    start_ = new QPushButton(kStartText);
    stop_ = new QPushButton(kStopText);
    exit_ = new QPushButton(kExitText);
    start_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {start_, stop_, exit_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();

    statusWidget_ = new QListWidget;
    statusWidget_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto* page = new QVBoxLayout(this);
    page->addLayout(grid);
    page->addLayout(buttons);
    page->addWidget(label(kStatusLabel, statusWidget_));
    page->addWidget(statusWidget_, 1);

    connect(start_, &QPushButton::clicked, this, &KorvanWindow::startAgent);
    connect(stop_, &QPushButton::clicked, this, &KorvanWindow::stopAgent);
    connect(exit_, &QPushButton::clicked, this, &KorvanWindow::exitProgram);
    connect(browse_, &QPushButton::clicked, this, &KorvanWindow::browse);
    connect(view_, &QPushButton::clicked, this, &KorvanWindow::view);
}

void KorvanWindow::buildMenus() {
    // One row per menu item, in menu order. A tool dialog's item is one more row here, with
    // its MenuItem; the layouts gray it as MainWindow::enabled(MenuItem) says.
    struct MenuRow {
        const char* menu;
        const char* submenu;  // nullptr: the item is in the menu itself
        const char* text;
        MenuItem item;
        void (KorvanWindow::*command)();
    };
    static const MenuRow kMenuRows[] = {
        {"&File", nullptr, "&Exit", MenuItem::Exit, &KorvanWindow::exitProgram},
        {"&MIBs", nullptr, "&Compile MIBs..", MenuItem::CompileMibs, &KorvanWindow::compileMibs},
        {"&MIBs", nullptr, "&View MIB Info..", MenuItem::ViewMibInfo, &KorvanWindow::viewMibInfo},
        {"&Variables", nullptr, "&Create Variables from MIB..", MenuItem::CreateVariables,
         &KorvanWindow::createVariables},
        {"&Variables", nullptr, "&Learn SNMP Variables..", MenuItem::LearnVariables,
         &KorvanWindow::learnVariables},
        {"&Variables", nullptr, "&Edit Variable File..", MenuItem::EditVariableFile,
         &KorvanWindow::editVariableFile},
        {"&Trap", nullptr, "&Create Trap File from MIB..", MenuItem::CreateTrapFile,
         &KorvanWindow::createTrapFile},
        {"&Trap", nullptr, "&Generate Traps..", MenuItem::GenerateTraps,
         &KorvanWindow::generateTraps},
        {"&Trap", nullptr, "&Edit Trap File..", MenuItem::EditTrapFile,
         &KorvanWindow::editTrapFile},
        {"&Help", "&Contents", "Html", MenuItem::HelpHtml, &KorvanWindow::helpHtml},
        {"&Help", "&Contents", "Pdf", MenuItem::HelpPdf, &KorvanWindow::helpPdf},
        {"&Help", nullptr, "&About Korvimo..", MenuItem::About, &KorvanWindow::about},
    };

    menuBar_ = new QMenuBar(this);
    std::map<std::string, QMenu*> menus;
    auto menuFor = [&](const std::string& path, QMenu* parent, const char* title) {
        QMenu*& menu = menus[path];
        if (menu == nullptr) {
            menu = parent != nullptr ? parent->addMenu(title) : menuBar_->addMenu(title);
        }
        return menu;
    };
    for (const MenuRow& row : kMenuRows) {
        QMenu* menu = menuFor(row.menu, nullptr, row.menu);
        if (row.submenu != nullptr) {
            menu = menuFor(std::string(row.menu) + "/" + row.submenu, menu, row.submenu);
        }
        QAction* action = menu->addAction(row.text);
        connect(action, &QAction::triggered, this, row.command);
        actions_[row.item] = action;
    }
    layout()->setMenuBar(menuBar_);
}

void KorvanWindow::windowStart() {
    window_.windowStart();
    setWindowTitle(qtext(window_.title()));
    showForm();
    applyLayout();
}

void KorvanWindow::showForm() {
    const app::MainWindowForm& form = window_.form();
    {
        const QSignalBlocker blockV4(ipv4_);
        const QSignalBlocker blockV6(ipv6_);
        (form.transport == IpVersion::IPv6 ? ipv6_ : ipv4_)->setChecked(true);
    }
    switch (form.version) {
        case VersionMode::SNMPv1:
            v1_->setChecked(true);
            break;
        case VersionMode::SNMPv2C:
            v2c_->setChecked(true);
            break;
        case VersionMode::Bilingual:
            bilingual_->setChecked(true);
            break;
        case VersionMode::SNMPv3:
            v3_->setChecked(true);
            break;
        case VersionMode::All:
            allVersions_->setChecked(true);
            break;
    }
    debugMode_->setChecked(form.debugMode);
    showAddress();
    showLists();
}

void KorvanWindow::showLists() {
    const app::MainWindowForm& form = window_.form();
    const std::pair<QComboBox*, app::FormList> lists[] = {
        {controlFile_, app::FormList::ControlFile},
        {readCommunity_, app::FormList::ReadCommunity},
        {writeCommunity_, app::FormList::WriteCommunity},
    };
    for (const auto& [box, which] : lists) {
        box->clear();
        for (const std::string& value : window_.history(which)) {
            box->addItem(qtext(value));
        }
    }
    // The most recent value is the selected one; after a start it is what the start used.
    controlFile_->setEditText(qtext(form.controlFile));
    readCommunity_->setEditText(qtext(form.readCommunity));
    writeCommunity_->setEditText(qtext(form.writeCommunity));
}

void KorvanWindow::readForm() {
    app::MainWindowForm& form = window_.form();
    form.controlFile = controlFile_->currentText().toStdString();
    form.readCommunity = readCommunity_->currentText().toStdString();
    form.writeCommunity = writeCommunity_->currentText().toStdString();
    form.version = v1_->isChecked()            ? VersionMode::SNMPv1
                   : v2c_->isChecked()         ? VersionMode::SNMPv2C
                   : v3_->isChecked()          ? VersionMode::SNMPv3
                   : allVersions_->isChecked() ? VersionMode::All
                                               : VersionMode::Bilingual;
    form.debugMode = debugMode_->isChecked();
}

void KorvanWindow::applyLayout() {
    for (const Control control : app::kAllControls) {
        this->control(control)->setEnabled(window_.enabled(control));
    }
    for (const auto& [item, action] : actions_) {
        action->setEnabled(window_.enabled(item));
    }
}

QWidget* KorvanWindow::control(Control control) const {
    switch (control) {
        case Control::ControlFileList:
            return controlFile_;
        case Control::ReadCommunityList:
            return readCommunity_;
        case Control::WriteCommunityList:
            return writeCommunity_;
        case Control::Browse:
            return browse_;
        case Control::View:
            return view_;
        case Control::SNMPv1:
            return v1_;
        case Control::SNMPv2C:
            return v2c_;
        case Control::Bilingual:
            return bilingual_;
        case Control::SNMPv3:
            return v3_;
        case Control::AllVersions:
            return allVersions_;
        case Control::IPv4:
            return ipv4_;
        case Control::IPv6:
            return ipv6_;
        case Control::DebugMode:
            return debugMode_;
        case Control::Start:
            return start_;
        case Control::Stop:
            return stop_;
        case Control::Exit:
            return exit_;
    }
    return nullptr;
}

QComboBox* KorvanWindow::list(app::FormList list) const {
    switch (list) {
        case app::FormList::ControlFile:
            return controlFile_;
        case app::FormList::ReadCommunity:
            return readCommunity_;
        case app::FormList::WriteCommunity:
            return writeCommunity_;
    }
    return nullptr;
}

QAction* KorvanWindow::action(MenuItem item) const {
    auto it = actions_.find(item);
    return it == actions_.end() ? nullptr : it->second;
}

void KorvanWindow::chooseTransport(IpVersion transport) {
    window_.chooseTransport(transport);
    showAddress();
}

void KorvanWindow::showAddress() {
    address_->setText(qtext(window_.agentAddressText()));
    port_->setText(qtext(window_.agentPortText()));
    // The users file may have been edited since: it is counted again whenever the form is
    // shown anew (window start, a transport chosen, Start and Stop).
    v3Users_->setText(qtext(window_.v3UsersText()));
    // The engine's ID is long: it is the label's tooltip while the agent serves SNMPv3.
    v3Users_->setToolTip(qtext(window_.v3EngineText()));
}

void KorvanWindow::startAgent() {
    readForm();
    window_.start();
    showLists();
    showAddress();
    applyLayout();
}

void KorvanWindow::stopAgent() {
    window_.stop();
    showAddress();
    applyLayout();
}

void KorvanWindow::exitProgram() {
    // A signal ends the program the same way while Generate Traps, Learn SNMP Variables or
    // MIB Compilation is open: the dialog closes first, which stops its transmission, walk or
    // batch and lets its loop end.
    if (trapsDialog_ && trapsDialog_->isVisible()) {
        trapsDialog_->reject();
    }
    if (learnVariablesDialog_ && learnVariablesDialog_->isVisible()) {
        learnVariablesDialog_->reject();  // the learned file is written out as far as it got
    }
    if (compileMibsDialog_ && compileMibsDialog_->isVisible()) {
        compileMibsDialog_->reject();  // the batch ends; mibinfo.out stays as it was
    }
    window_.exit();
    closing_ = true;
    close();
}

void KorvanWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        if (window_.closeNeedsQuestion()) {
            QMessageBox question(QMessageBox::Question, windowTitle(), app::kQuitQuestionText,
                                 QMessageBox::Yes | QMessageBox::No, this);
            if (question.exec() != QMessageBox::Yes) {
                event->ignore();
                return;
            }
        }
        window_.close();
        closing_ = true;
    }
    event->accept();
}

void KorvanWindow::reject() {
    close();
}

void KorvanWindow::browse() {
    if (const std::optional<std::string> chosen = chooseFile(this, commands_.browseChooser())) {
        controlFile_->setEditText(qtext(app::DesktopCommands::agentFileFromChoice(*chosen)));
    }
}

void KorvanWindow::view() {
    launchOrExplain(commands_.viewControlFile(controlFile_->currentText().toStdString()));
}

void KorvanWindow::viewMibInfo() {
    launchOrExplain(commands_.viewMibInfo());
}

void KorvanWindow::editVariableFile() {
    editChosenFile(commands_.editVariableFileChooser());
}

void KorvanWindow::editTrapFile() {
    editChosenFile(commands_.editTrapFileChooser());
}

void KorvanWindow::editChosenFile(const app::FileChooser& chooser) {
    if (const std::optional<std::string> chosen = chooseFile(this, chooser)) {
        launchOrExplain(commands_.editFile(*chosen));
    }
}

void KorvanWindow::compileMibs() {
    if (!compileMibs_) {
        // kmx and zorlet are the running program's neighbours in its bin directory.
        std::string failure;
        compileMibs_ = std::make_unique<app::CompileMibs>(app::CompileMibsContext{
            window_.config(), window_.loop(), window_.busy(), app::programDirectory(failure)});
        compileMibsDialog_ =
            std::make_unique<CompileMibsDialog>(*compileMibs_, commands_, launch, this);
    }
    compileMibs_->dialogStart();
    compileMibsDialog_->run();
}

void KorvanWindow::createTrapFile() {
    if (!createTrapsDialog_) {
        createTrapsDialog_ =
            std::make_unique<CreateTrapsDialog>(*createTraps_, commands_, launch, this);
    }
    createTraps_->dialogStart();
    createTrapsDialog_->run();
}

void KorvanWindow::createVariables() {
    if (!createVariables_) {
        createVariables_ = std::make_unique<app::CreateVariables>(app::CreateVariablesContext{
            window_.config(), window_.loop(), window_.mibInfo(), window_.busy()});
        createVariablesDialog_ =
            std::make_unique<CreateVariablesDialog>(*createVariables_, commands_, launch, this);
    }
    createVariables_->dialogStart();
    createVariablesDialog_->run();
}

void KorvanWindow::learnVariables() {
    if (!learnVariables_) {
        learnVariables_ = std::make_unique<app::LearnVariables>(
            app::LearnVariablesContext{window_.config(), window_.loop(), window_.requestIds(),
                                       window_.mibInfo(), window_.busy()});
        learnVariablesDialog_ =
            std::make_unique<LearnVariablesDialog>(*learnVariables_, commands_, launch, this);
    }
    // The teacher is walked over the transport the agent uses.
    learnVariables_->options().ipVersion = window_.form().transport;
    learnVariables_->dialogStart();
    learnVariablesDialog_->run();
}

void KorvanWindow::generateTraps() {
    if (!trapsDialog_) {
        trapsDialog_ = std::make_unique<GenerateTrapsDialog>(*traps_, commands_, launch, this);
    }
    // Traps go out over the transport the agent uses.
    traps_->options().ipVersion = window_.form().transport;
    traps_->dialogStart();
    trapsDialog_->run();
}

void KorvanWindow::helpHtml() {
    launchOrExplain(commands_.help(app::HelpDocument::Html));
}

void KorvanWindow::helpPdf() {
    launchOrExplain(commands_.help(app::HelpDocument::Pdf));
}

void KorvanWindow::about() {
    QMessageBox box(QMessageBox::Information, kAboutTitle, qtext(window_.title()), QMessageBox::Ok,
                    this);
    box.exec();
}

void KorvanWindow::launchOrExplain(const app::DesktopLaunch& desktop) {
    gui::launchOrExplain(this, launch, desktop);
}

}  // namespace korvimo::gui
