#include "connect/ChannelChoiceDialog.h"

#include "app/ui/DialogControls.h"
#include "link/ChannelChoice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace DialogControls;

ChannelChoiceDialog::ChannelChoiceDialog(const ChannelTable& channels, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Open local site video channel"));

    m_list = new QComboBox(this);
    m_list->setObjectName(QStringLiteral("combo1"));
    m_list->setMinimumWidth(averageCharWidths(this, 40));
    m_list->addItems(channelChoiceLines(channels));
    m_list->setCurrentIndex(m_list->count() > 0 ? 0 : -1);

    QPushButton* open = makeButton(this, tr("&Open"), 1);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    open->setDefault(true);
    cancel->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &ChannelChoiceDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ChannelChoiceDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(open);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Please select video channel"), this));
    layout->addWidget(m_list);
    layout->addLayout(buttons);
}

int32_t ChannelChoiceDialog::channel() const {
    return m_list->currentIndex() < 0 ? 0 : channelFromChoice(m_list->currentText());
}
