# The connector's TLS key and certificate chain are made per build folder by openssl
# (never committed) and embedded as the resources :/ssl/kvr.key and :/ssl/kvr.cert.
# The root CA that signed the chain stays in ${PRINTARRA_TLS_DIR}/rootca.pem so that
# it can be installed into the browsers' trust stores.
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
