# A fixed TLS key and certificate chain per build folder, made by openssl (never committed),
# for the test suites: printarra_tls embeds them as the resources :/ssl/kvr.key and
# :/ssl/kvr.cert, and ${PRINTARRA_TLS_DIR}/rootca.pem is the CA that signed them. The program
# never links them; it makes its own material per installation.
set(PRINTARRA_TLS_DIR ${CMAKE_BINARY_DIR}/ssl)
execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/tools/make-tls-material.sh ${PRINTARRA_TLS_DIR}
    RESULT_VARIABLE _tls_result)
if(NOT _tls_result EQUAL 0)
    message(FATAL_ERROR "Could not make the TLS material in ${PRINTARRA_TLS_DIR}")
endif()

file(WRITE ${PRINTARRA_TLS_DIR}/tls.qrc.in
"<RCC>
    <qresource prefix=\"/ssl\">
        <file alias=\"kvr.key\">${PRINTARRA_TLS_DIR}/kvr.key</file>
        <file alias=\"kvr.cert\">${PRINTARRA_TLS_DIR}/kvr.cert</file>
    </qresource>
</RCC>
")
configure_file(${PRINTARRA_TLS_DIR}/tls.qrc.in ${PRINTARRA_TLS_DIR}/tls.qrc COPYONLY)

# An object library, so the resource's static initialiser is linked in without Q_INIT_RESOURCE.
add_library(printarra_tls OBJECT ${PRINTARRA_TLS_DIR}/tls.qrc)
target_link_libraries(printarra_tls PUBLIC Qt5::Core)
