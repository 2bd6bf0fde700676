#include "SelectModemDialog.h"

#include "DialogControls.h"
#include "LineManager.h"
#include "ResourceIcons.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
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
    m_list->setMinimumWidth(AverageCharWidths(this, 40));
    m_list->addItems(lineNames);
    m_list->setCurrentIndex(currentDevice >= 0 && currentDevice < lineNames.size() ? currentDevice : -1);

    QPushButton* select = MakeButton(this, tr("&Select"), 1);
    QPushButton* cancel = MakeButton(this, tr("&Cancel"), 2);
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
    layout->addLayout(buttons);

    connect(m_list, &QComboBox::currentIndexChanged, this, &SelectModemDialog::onHighlight);
    onHighlight(m_list->currentIndex());
}

SelectModemDialog::SelectModemDialog(LineManager& lines, QWidget* parent)
    : SelectModemDialog(
          LineNames(lines), lines.ChosenDevice(),
          [&lines](int device) -> std::optional<tel::DeviceIcon> {
              tel::DeviceIcon icon;
              if (!lines.GetLineIcon(device, icon))
                  return std::nullopt;
              return icon;
          },
          parent) {}

QStringList SelectModemDialog::LineNames(LineManager& lines) {
    QStringList names;
    for (int device = 0; device < lines.DeviceCount(); ++device)
        names.append(lines.GetLineName(device));
    return names;
}

void SelectModemDialog::onHighlight(int index) {
    if (index < 0)
        return;
    m_selected = index;
    if (std::optional<tel::DeviceIcon> icon = m_icons ? m_icons(index) : std::nullopt)
        m_icon->setPixmap(ResourceIcons::DeviceIcon(*icon));
}

void SelectModemDialog::accept() {
    if (m_selected < 0) {
        reject();
        return;
    }
    QDialog::accept();
}
