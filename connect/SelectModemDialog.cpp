#include "connect/SelectModemDialog.h"

#include "app/core/AppStore.h"
#include "app/ui/DialogControls.h"
#include "connect/ResourceIcons.h"
#include "link/LineManager.h"
#include "platform/dialogs/DialogService.h"
#include "platform/log/DialscopeLog.h"
#include "res/StringTable.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

using namespace DialogControls;

SelectModemDialog::SelectModemDialog(const QStringList& lineNames, int currentDevice, IconLookup icons,
                                     QWidget* parent)
    : QDialog(parent)
    , m_icons(std::move(icons)) {
    setWindowTitle(tr("Select modem"));

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("icon1009"));
    m_icon->setFixedSize(ResourceIcons::kIconSize);
    m_list = new QComboBox(this);
    m_list->setObjectName(QStringLiteral("combo1008"));
    m_list->setMinimumWidth(averageCharWidths(this, 40));
    m_list->addItems(lineNames);
    m_list->setCurrentIndex(currentDevice >= 0 && currentDevice < lineNames.size() ? currentDevice : -1);

    QPushButton* select = makeButton(this, tr("&Select"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    select->setDefault(true);
    cancel->setAutoDefault(false);
    connect(select, &QPushButton::clicked, this, &SelectModemDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SelectModemDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    auto* choice = new QVBoxLayout;
    choice->addWidget(new QLabel(tr("Please select modem device"), this));
    choice->addWidget(m_list);
    top->addLayout(choice, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(select);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);

    // The network modem list, shown by EnableNetworkModems.
    const QStringList network = loadString(IDS_NETWORK_MODEMS).split(QLatin1Char('\n'));
    auto* box = new QGroupBox(network.value(0), this);
    m_networkBox = box;
    m_networkList = new QListWidget(box);
    m_networkList->setObjectName(QStringLiteral("list1010"));
    m_networkEdit = new QLineEdit(box);
    m_networkEdit->setObjectName(QStringLiteral("edit1011"));
    m_networkEdit->setPlaceholderText(network.value(1));
    m_networkEdit->setMaxLength(300);
    QPushButton* add = makeButton(box, network.value(2), 1012);
    QPushButton* remove = makeButton(box, network.value(3), 1013);
    add->setAutoDefault(false);
    remove->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &SelectModemDialog::onAddNetworkModem);
    connect(remove, &QPushButton::clicked, this, &SelectModemDialog::onRemoveNetworkModem);
    auto* entry = new QHBoxLayout;
    entry->addWidget(m_networkEdit, 1);
    entry->addWidget(add);
    entry->addWidget(remove);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->addWidget(m_networkList);
    boxLayout->addLayout(entry);
    box->hide();
    layout->addWidget(box);
    layout->addLayout(buttons);

    connect(m_list, &QComboBox::currentIndexChanged, this, &SelectModemDialog::onHighlight);
    onHighlight(m_list->currentIndex());
}

SelectModemDialog::SelectModemDialog(LineManager& lines, QWidget* parent)
    : SelectModemDialog(
          lineNames(lines), lines.chosenDevice(),
          [&lines](int device) -> std::optional<tel::DeviceIcon> {
              tel::DeviceIcon icon;
              if (!lines.lineIcon(device, icon))
                  return std::nullopt;
              return icon;
          },
          parent) {}

QStringList SelectModemDialog::lineNames(LineManager& lines) {
    QStringList names;
    for (int device = 0; device < lines.deviceCount(); ++device)
        names.append(lines.GetLineName(device));
    return names;
}

void SelectModemDialog::onHighlight(int index) {
    if (index < 0)
        return;
    m_selected = index;
    if (std::optional<tel::DeviceIcon> icon = m_icons ? m_icons(index) : std::nullopt)
        m_icon->setPixmap(ResourceIcons::deviceIcon(*icon));
}

void SelectModemDialog::enableNetworkModems(AppStore& store, DialogService& dialogs) {
    m_store = &store;
    m_dialogs = &dialogs;
    m_storedNetwork = NetworkModemList::load(store);
    m_network = m_storedNetwork;
    showNetworkModems();
    m_networkBox->show();
}

void SelectModemDialog::showNetworkModems() {
    m_networkList->clear();
    for (const std::string& entry : m_network.entries())
        m_networkList->addItem(QString::fromStdString(entry));
}

void SelectModemDialog::onAddNetworkModem() {
    if (!m_dialogs)
        return;
    switch (m_network.add(m_networkEdit->text().toStdString())) {
    case NetworkModemList::AddResult::Added:
        m_networkEdit->clear();
        showNetworkModems();
        m_networkList->setCurrentRow(m_networkList->count() - 1);
        return;
    case NetworkModemList::AddResult::Invalid:
        m_dialogs->notice(this, loadString(IDP_NETWORK_MODEM_INVALID));
        break;
    case NetworkModemList::AddResult::Listed:
        m_dialogs->notice(this, loadString(IDP_NETWORK_MODEM_LISTED));
        break;
    case NetworkModemList::AddResult::Full:
        m_dialogs->notice(this, loadString(IDP_NETWORK_MODEMS_FULL));
        break;
    }
    m_networkEdit->setFocus();
    m_networkEdit->selectAll();
}

void SelectModemDialog::onRemoveNetworkModem() {
    const int row = m_networkList->currentRow();
    if (row < 0 || !m_network.remove(static_cast<std::size_t>(row)))
        return;
    showNetworkModems();
    m_networkList->setCurrentRow(std::min(row, m_networkList->count() - 1));
}

void SelectModemDialog::accept() {
    if (m_store && !(m_network == m_storedNetwork)) {
        if (m_network.save(*m_store))
            m_storedNetwork = m_network;
        else
            qCWarning(lcStore, "the network modem list could not be stored");
    }
    if (m_selected < 0) {
        reject();
        return;
    }
    QDialog::accept();
}
