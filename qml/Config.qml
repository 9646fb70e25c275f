import QtQuick 2.15
import QtQuick.Controls 2.15
import "appSettings"
import "customComponents"
import "configComponents"

// The printer list: which print queues the web application may use, and under them the preview
// printer, whose jobs become pictures in a folder.
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
    footer: Column {
        width: ListView.view ? ListView.view.width : 0

        PrinterListItem {
            objectName: "previewPrinterRow"
            width: parent.width
            printer: printClient.previewPrinter
        }
        Item {
            width: parent.width
            height: 40

            CommonLabelRegular {
                objectName: "previewFolder"
                anchors.left: parent.left
                anchors.leftMargin: 20
                anchors.right: openFolder.left
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                elide: Text.ElideMiddle
                font.pixelSize: 12
                color: GlobalSettings.listText
                text: qsTr("Os trabalhos da pré-visualização são guardados em %1")
                      .arg(printClient.previewPrinter.folder)
            }
            Button {
                id: openFolder
                objectName: "openPreviewFolder"
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                flat: true
                font.pixelSize: 12
                text: qsTr("Abrir pasta")
                onClicked: printClient.previewPrinter.openFolder()
            }
        }
    }
    onBack: navigate("allSet")
    onRefresh: printClient.updatePrinters()
}
