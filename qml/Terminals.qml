import QtQuick 2.15
import "customComponents"
import "configComponents"

// The payment terminal list: which terminals the web application may use.
DeviceListPanel {
    objectName: "terminals"
    signal navigate(string target)

    title: qsTr("Configuração de terminais de pagamento automático (TPA)")
    subtitle: qsTr("Defina as configurações dos terminais de pagamento no ponto de venda")
    nameHeader: qsTr("Terminais")
    emptyText: qsTr("Não foi encontrado nenhum terminal")
    headerWhenEmpty: false
    overlayBlocksClicks: true
    model: printClient.tpas
    delegate: TpaListItem {
        width: ListView.view.width
        terminal: modelData
    }
    onBack: navigate("allSet")
    onRefresh: printClient.updateTpas()
}
