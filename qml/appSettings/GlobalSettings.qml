pragma Singleton
import QtQuick 2.15

// Sizes, colours, fonts and vendor pages shared by every screen.
QtObject {
    readonly property int titleSize: 18
    readonly property int subtitleSize: 16
    readonly property int minorSize: 14

    readonly property color titleColor: "#303A4D"
    readonly property color subtitleColor: "#7c8ea7"
    readonly property color greyBackground: "#F5F7F9"
    readonly property color blueBackground: "#0082F2"
    readonly property color lightText: "#BFE0FC"
    readonly property color listText: "#7588AB"
    readonly property color emptyListText: "#8f9ebd"
    readonly property color versionText: "#8F9EB9"
    readonly property color hoverOn: "#E6F3FE"
    readonly property color hoverOff: "white"
    readonly property color switchOff: "#cdd8e8"
    readonly property color switchOn: "#21CB97"
    readonly property color panelShadow: "#ced4e0"
    readonly property color outerShadow: "#8c8c8c"

    // Badges of the device rows.
    readonly property color onBadge: "#C8F2E5"
    readonly property color onBadgeText: "#0D513C"
    readonly property color offBadge: "#FFD9D9"
    readonly property color offBadgeText: "#662A2A"

    // On Linux the font names are resolved by the system's font configuration.
    readonly property string fontFamily: "Poppins"

    readonly property int headerHeight: 80
    readonly property int footerHeight: 40

    // The vendor's pages by interface language: Portuguese and Spanish have their own,
    // any other language gets the English download page and the Portuguese help and contact.
    function downloadPage(language) {
        if (language === "pt")
            return "https://www.velora.pt/printarra/transferir"
        if (language === "es")
            return "https://www.velora.es/printarra/descargar"
        return "https://www.velora.com/printarra/download"
    }
    function helpPage(language) {
        if (language === "es")
            return "https://ayuda.velora.es/articulos/configurar-impresoras-de-tickets"
        return "https://ajuda.velora.pt/artigos/configurar-impressoras-de-taloes"
    }
    function contactPage(language) {
        if (language === "es")
            return "https://www.velora.es/contacto"
        return "https://www.velora.pt/contactos"
    }
}
