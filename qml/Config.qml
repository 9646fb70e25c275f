import QtQuick 2.15
import "customComponents"
import "configComponents"

// The printer list: which print queues the web application may use.
DeviceListPanel {
    objectName: "config"
    signal navigate(string target)

    title: qsTr("Configuração de impressora")
    subtitle: qsTr("Defina as configurações das impressoras no terminal do ponto de venda")
    nameHeader: qsTr("Impressoras")
    emptyText: qsTr("Não foi encontrada nenhuma impressora")
    model: printClient.printers
    delegate: PrinterListItem {
        width: ListView.view.width
        printer: modelData
    }
    onBack: navigate("allSet")
    onRefresh: printClient.updatePrinters()
}
