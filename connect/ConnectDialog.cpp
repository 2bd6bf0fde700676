#include "connect/ConnectDialog.h"

#include "app/ui/DialogControls.h"
#include "app/ui/PhoneBookDialog.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

using namespace ConnectForm;
using namespace DialogControls;

namespace {

SliderAction fromQt(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return SliderAction::LineLeft;
    case QAbstractSlider::SliderSingleStepAdd:
        return SliderAction::LineRight;
    case QAbstractSlider::SliderPageStepSub:
        return SliderAction::PageLeft;
    case QAbstractSlider::SliderPageStepAdd:
        return SliderAction::PageRight;
    case QAbstractSlider::SliderMove:
        return SliderAction::ThumbPosition;
    default:
        return SliderAction::Other;
    }
}

} // namespace

ConnectDialog::ConnectDialog(AppStore& store, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_dialogs(dialogs) {
    setWindowTitle(tr("Connect to local site"));

    m_user = makeEdit(this, 1021, kUserLength);
    m_password = makeEdit(this, 1004, kPasswordLength, true);
    acceptWireTextOnly(m_user);
    acceptWireTextOnly(m_password);
    m_dial = makeEdit(this, 1000, kDialLength);

    m_imageSize = new QComboBox(this);
    m_imageSize->setObjectName(QStringLiteral("combo1005"));
    for (const char* size : kImageSizes)
        m_imageSize->addItem(QString::fromLatin1(size));

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("slider1006"));
    m_slider->setRange(kQualityMin, kQualityMax);
    m_slider->setPageStep(kQualityPage);
    m_slider->setSingleStep(1);
    m_slider->setTickPosition(QSlider::NoTicks);
    m_qualityLabel = new QLabel(this);
    m_qualityLabel->setObjectName(QStringLiteral("label1007"));
    m_qualityLabel->setMinimumWidth(averageCharWidths(this, 6));

    m_savePassword = new QCheckBox(tr("Save password"), this);
    m_savePassword->setObjectName(QStringLiteral("check1002"));

    QPushButton* connectButton = makeButton(this, tr("Co&nnect"), 1);
    QPushButton* apply = makeButton(this, tr("&Apply"), 1070);
    QPushButton* cancel = makeButton(this, tr("&Cancel"), 2);
    QPushButton* phoneBook = makeButton(this, tr("Phone book"), 1020);
    QPushButton* addDirectory = makeButton(this, tr("Add \ndirectory"), 1024);
    connectButton->setDefault(true);
    for (QPushButton* button : {apply, cancel, phoneBook, addDirectory})
        button->setAutoDefault(false);

    connect(connectButton, &QPushButton::clicked, this, &ConnectDialog::accept);
    connect(apply, &QPushButton::clicked, this, &ConnectDialog::store);
    connect(cancel, &QPushButton::clicked, this, &ConnectDialog::reject);
    connect(phoneBook, &QPushButton::clicked, this, &ConnectDialog::openPhoneBook);
    connect(addDirectory, &QPushButton::clicked, this, &ConnectDialog::addToDirectory);
    connect(m_slider, &QAbstractSlider::actionTriggered, this, &ConnectDialog::onSliderAction);
    // Anything else that moves the slider (Home, End, a programmatic change)
    // still keeps the copy and the label in step with it.
    connect(m_slider, &QAbstractSlider::valueChanged, this, &ConnectDialog::refreshQualityFromSlider);

    auto* fieldsGrid = new QGridLayout;
    fieldsGrid->addWidget(new QLabel(tr("User name:"), this), 0, 0);
    fieldsGrid->addWidget(m_user, 0, 1, 1, 3);
    fieldsGrid->addWidget(new QLabel(tr("Password:"), this), 1, 0);
    fieldsGrid->addWidget(m_password, 1, 1, 1, 3);
    fieldsGrid->addWidget(m_savePassword, 2, 1, 1, 3);
    fieldsGrid->addWidget(new QLabel(tr("Dial number:"), this), 3, 0);
    fieldsGrid->addWidget(m_dial, 3, 1, 1, 3);
    fieldsGrid->addWidget(new QLabel(tr("Image size:"), this), 4, 0);
    fieldsGrid->addWidget(m_imageSize, 4, 1, 1, 3);
    fieldsGrid->addWidget(new QLabel(tr("Quality:"), this), 5, 0);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(new QLabel(tr("Bad"), this));
    qualityRow->addWidget(m_slider, 1);
    qualityRow->addWidget(new QLabel(tr("Good"), this));
    qualityRow->addWidget(m_qualityLabel);
    fieldsGrid->addLayout(qualityRow, 5, 1, 1, 3);
    fieldsGrid->setColumnMinimumWidth(1, averageCharWidths(this, 30));

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {connectButton, apply, cancel, phoneBook, addDirectory})
        buttons->addWidget(button);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fieldsGrid, 1);
    layout->addLayout(buttons);

    const Fields stored = fromStored(m_store.callSettings());
    m_user->setText(stored.user);
    m_password->setText(stored.password);
    m_dial->setText(stored.dial);
    m_imageSize->setCurrentIndex(stored.imageSize);
    m_savePassword->setChecked(stored.savePassword);
    m_slider->setValue(stored.quality);
    refreshQualityFromSlider();
}

Fields ConnectDialog::fields() const {
    Fields fields;
    fields.user = m_user->text();
    fields.password = m_password->text();
    fields.dial = m_dial->text();
    fields.imageSize = m_imageSize->currentIndex();
    fields.quality = m_slider->value();
    fields.savePassword = m_savePassword->isChecked();
    return fields;
}

void ConnectDialog::store() {
    m_store.saveCallSettings(toStored(fields()));
}

void ConnectDialog::accept() {
    switch (check(fields())) {
    case Problem::NoUser:
        m_dialogs.notice(this, loadString(IDP_INPUT_USER_NAME));
        focusEdit(m_user);
        return;
    case Problem::NoDial:
        m_dialogs.notice(this, loadString(IDP_INPUT_DIAL_NUMBER));
        focusEdit(m_dial);
        return;
    case Problem::None:
        break;
    }
    store();
    QDialog::accept();
}

void ConnectDialog::onSliderAction(int action) {
    // Qt has already moved the position for this action; the dialog's own rule
    // decides where it ends up.
    if (std::optional<int> next = qualityAfter(fromQt(action), m_quality, m_slider->sliderPosition())) {
        m_quality = *next;
        m_slider->setSliderPosition(*next);
    }
}

void ConnectDialog::refreshQualityFromSlider() {
    m_quality = m_slider->value();
    m_qualityLabel->setText(qualityLabel(m_quality));
}

void ConnectDialog::openPhoneBook() {
    PhoneBookDialog book(m_store, m_dialogs, PhoneBookDialog::Mode::Select, this);
    if (book.exec() != QDialog::Accepted)
        return;
    const PhoneEntry entry = book.selectedEntry();
    m_user->setText(toQt(entry.Name));
    m_password->setText(toQt(entry.PassWord));
    m_dial->setText(toQt(entry.Dial));
}

void ConnectDialog::addToDirectory() {
    const Fields current = fields();
    if (current.user.isEmpty())
        return;
    if (m_dialogs.message(this, loadString(IDP_ADD_TO_DIRECTORY), MessageButtons::YesNo,
                          MessageIcon::Question) != MessageAnswer::Yes)
        return;
    // A name the store cannot take as an entry (too long, holding "\") or a
    // store that refuses writes: the operator is told instead of left
    // believing the entry was added.
    if (!m_store.SavePhoneEntry({fromQt(current.user), fromQt(current.password), fromQt(current.dial), {}}))
        m_dialogs.notice(this, loadString(IDP_INPUT_ERROR));
}
