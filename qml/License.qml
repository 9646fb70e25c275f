import QtQuick 2.15
import QtQuick.Controls 2.15
import "appSettings"
import "customComponents"
import "terms/terms_pt.js" as TermsPt
import "terms/terms_en.js" as TermsEn
import "terms/terms_es.js" as TermsEs

// The terms of use, shown until the user accepts them; there is no way to decline.
Item {
    id: screen
    objectName: "license"

    signal navigate(string target)

    readonly property string document: printClient.language === "pt" ? TermsPt.text
                                       : printClient.language === "es" ? TermsEs.text : TermsEn.text

    RectangleShadow {
        id: panel
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: acceptButton.top
        anchors.margins: 40
        anchors.bottomMargin: 24

        Flickable {
            id: flick
            anchors.fill: parent
            anchors.margins: 4
            clip: true
            contentWidth: width
            contentHeight: termsText.implicitHeight + 48
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AlwaysOn
            }

            CommonLabelRegular {
                id: termsText
                x: 28
                y: 20
                width: flick.width - 64
                wrapMode: Text.WordWrap
                textFormat: Text.RichText
                lineHeight: 1.15
                color: GlobalSettings.titleColor
                text: screen.document
            }
        }
    }

    Button {
        id: acceptButton
        objectName: "acceptButton"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 32
        highlighted: true
        font.family: GlobalSettings.fontFamily
        font.weight: Font.Medium
        text: qsTr("ACEITO OS TERMOS DE UTILIZAÇÃO DO VELORA")
        onClicked: printClient.licenseAccepted = true
    }
}
