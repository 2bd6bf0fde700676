#pragma once

// "Select modem": every line device the telephony service reports, listed by
// name in device order (so a list position is a device index), with the
// picture of the highlighted one.
//
// How it works: the dialog opens with the current device highlighted (when
// it is in the list) and remembers the highlighted index on every change,
// showing that device's icon when the service has one. "&Select" closes with
// Accepted and selectedIndex(); with nothing highlighted (an empty list) it
// acts as "&Cancel", since there is no device to choose. The caller then
// restarts the line on a changed device and stores the index. Controls:
// icon1009, combo1008, button1 ("&Select"), button2.
//
// With EnableNetworkModems the operator's network modems (NetworkModemList)
// are listed below, with a field to type one and "&Add" / "&Remove"
// (list1010, edit1011, button1012, button1013). An address that is not valid,
// already listed or beyond the list's size is refused with a notice. "&Select"
// stores a changed list (also when no device can be chosen, so the first
// network modem can be added); "&Cancel" forgets the changes. The caller finds
// the list changed in the store and looks for the modems again.

#include "connect/NetworkModemList.h"
#include "platform/telephony/TelephonyTypes.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class AppStore;
class DialogService;
class LineManager;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

class SelectModemDialog : public QDialog {
    Q_OBJECT
public:
    // The icon of a device, or nothing when the service has none for it.
    using IconLookup = std::function<std::optional<tel::DeviceIcon>(int device)>;

    SelectModemDialog(const QStringList& lineNames, int currentDevice, IconLookup icons,
                      QWidget* parent = nullptr);
    // Lists every device of the line control and highlights its chosen one.
    explicit SelectModemDialog(LineManager& lines, QWidget* parent = nullptr);

    // The highlighted device index; -1 when none.
    int selectedIndex() const { return m_selected; }

    void accept() override;

    // Shows the network modem list as stored in `store`.
    void enableNetworkModems(AppStore& store, DialogService& dialogs);
    const NetworkModemList& networkModems() const { return m_network; }

    // The names of all devices of the line control, in device order.
    static QStringList lineNames(LineManager& lines);

private:
    void onHighlight(int index);
    void onAddNetworkModem();
    void onRemoveNetworkModem();
    void showNetworkModems();

    IconLookup m_icons;
    int m_selected = -1;
    QComboBox* m_list;
    QLabel* m_icon;

    AppStore* m_store = nullptr;
    DialogService* m_dialogs = nullptr;
    NetworkModemList m_network;
    NetworkModemList m_storedNetwork;
    QWidget* m_networkBox = nullptr;
    QListWidget* m_networkList = nullptr;
    QLineEdit* m_networkEdit = nullptr;
};
