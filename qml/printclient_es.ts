<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="pt">
<context>
    <name>Config</name>
    <message>
        <location filename="Config.qml" line="+13"/>
        <source>Configuração de impressora</source>
        <translation>Configuración de impresoras</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações das impressoras no terminal do ponto de venda</source>
        <translation>Configuraciones de las impresoras en el terminal del punto de venta</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Impressoras</source>
        <translation>Impresoras</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrada nenhuma impressora</source>
        <translation>No se encontró ninguna impresora</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Os trabalhos da pré-visualização são guardados em %1</source>
        <translation>Los trabajos de la vista previa se guardan en %1</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Abrir pasta</source>
        <translation>Abrir carpeta</translation>
    </message>
</context>
<context>
    <name>DeviceListPanel</name>
    <message>
        <location filename="customComponents/DeviceListPanel.qml" line="+64"/>
        <source>Estado</source>
        <translation>Estado</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Disponível</source>
        <translation>Disponible</translation>
    </message>
    <message>
        <location line="-30"/>
        <source>Atualizar lista</source>
        <translation>Actualizar lista</translation>
    </message>
</context>
<context>
    <name>Initial</name>
    <message>
        <location filename="Initial.qml" line="+31"/>
        <source>Configuração de dispositivos</source>
        <translation>Configuración de dispositivos</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Escolha o tipo de dispositivo que pretende configurar</source>
        <translation>Elige el tipo de dispositvo que pretendes configurar</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Estado do serviço</source>
        <translation>Estado del servicio</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>A porta %1 está ocupada por outro programa</source>
        <translation>El puerto %1 está ocupado por otro programa</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não é possível escutar na porta %1</source>
        <translation>No se puede escuchar en el puerto %1</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Termos de utilização por aceitar</source>
        <translation>Términos de uso sin aceptar</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Certificado TLS inutilizável</source>
        <translation>Certificado TLS inutilizable</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A aceitar pedidos na porta %1</source>
        <translation>Escuchando en el puerto %1</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Ativo</source>
        <translation>Activo</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Inactivo</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Chave de segurança:</source>
        <translation>Clave de seguridad:</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>Copiado!</source>
        <translation>Copiada!</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Impressoras</source>
        <translation>Impresoras</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar impressoras no ponto de venda.</source>
        <translation>Configurar impresoras en el punto de venta.</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Terminais de pagamento automático (TPA)</source>
        <translation>Terminales de pago automático (TPA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar terminais no ponto de venda.</source>
        <translation>Configurar terminales en el punto de venta.</translation>
    </message>
</context>
<context>
    <name>License</name>
    <message>
        <location filename="License.qml" line="+63"/>
        <source>ACEITO OS TERMOS DE UTILIZAÇÃO DO VELORA</source>
        <translation>ACEPTO LAS CONDICIONES DE UTILIZACIÓN DE VELORA</translation>
    </message>
</context>
<context>
    <name>ListScreen</name>
    <message>
        <location filename="customComponents/ListScreen.qml" line="+53"/>
        <source>Voltar</source>
        <translation>Volver</translation>
    </message>
</context>
<context>
    <name>Logs</name>
    <message>
        <location filename="Logs.qml" line="+15"/>
        <source>Logs</source>
        <translation>Logs</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Consulte os logs</source>
        <translation>Consultar los logs</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Mensagem</source>
        <translation>Mensaje</translation>
    </message>
</context>
<context>
    <name>OverlayAbout</name>
    <message>
        <location filename="customComponents/OverlayAbout.qml" line="+123"/>
        <source>O Printarra está desatualizado</source>
        <translation>Printarra esta desactualizado</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>O Printarra está atualizado</source>
        <translation>Printarra esta actualizado</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Versão: </source>
        <translation>Versión: </translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Data:</source>
        <translation>Fecha:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Sistema operativo:</source>
        <translation>Sistema Operativo:</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Copiado!</source>
        <translation>Copiada!</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Modo Compatibilidade</source>
        <translation>Modo de compatibilidad</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ativo</source>
        <translation>Activo</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Inactivo</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>Atualização disponível.</source>
        <translation>Actualización disponible.</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Descarregar</source>
        <translation>Descargar</translation>
    </message>
</context>
<context>
    <name>PrintClient</name>
    <message>
        <location filename="../app/printclient.cpp" line="+51"/>
        <source>Impressão de teste enviada para %1</source>
        <translation>Impresión de prueba enviada a %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou</source>
        <translation>La impresión de prueba en %1 falló</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou: %2</source>
        <translation>La impresión de prueba en %1 falló: %2</translation>
    </message>
    <message>
        <location line="+220"/>
        <source>Serviço de impressão ligado</source>
        <translation>Servicio de impresión conectado</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Serviço de impressão desligado</source>
        <translation>Servicio de impresión desconectado</translation>
    </message>
</context>
<context>
    <name>PrinterListItem</name>
    <message>
        <location filename="configComponents/PrinterListItem.qml" line="+17"/>
        <source>Ligado</source>
        <translation>Conectado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Desligado</source>
        <translation>Desconectado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Activo</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Inactivo</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Sem papel</source>
        <translation>Sin papel</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Tampa aberta</source>
        <translation>Tapa abierta</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Papel encravado</source>
        <translation>Papel atascado</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Sem ligação</source>
        <translation>Sin conexión</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Pouco papel</source>
        <translation>Poco papel</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>A imprimir…</source>
        <translation>Imprimiendo…</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Imprimir teste</source>
        <translation>Imprimir prueba</translation>
    </message>
</context>
<context>
    <name>Terminals</name>
    <message>
        <location filename="Terminals.qml" line="+10"/>
        <source>Configuração de terminais de pagamento automático (TPA)</source>
        <translation>Configuración de terminales de pago automático (TPA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações dos terminais de pagamento no ponto de venda</source>
        <translation>Configurar los ajustes del terminal de pago en el punto de venta</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Terminais</source>
        <translation>Terminales</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrado nenhum terminal</source>
        <translation>No se encontró ninguna terminal</translation>
    </message>
</context>
<context>
    <name>TestPrint</name>
    <message>
        <location filename="../app/testprint.cpp" line="+32"/>
        <source>Impressão de teste</source>
        <translation>Impresión de prueba</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Português</source>
        <translation>Portugués</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Espanhol</source>
        <translation>Español</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Se consegue ler este talão, a impressora está pronta.</source>
        <translation>Si puede leer este tique, la impresora está lista.</translation>
    </message>
</context>
<context>
    <name>TpaListItem</name>
    <message>
        <location filename="configComponents/TpaListItem.qml" line="+10"/>
        <source>Ligado</source>
        <translation>Conectado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Activo</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Inactivo</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="main.qml" line="+36"/>
        <location line="+31"/>
        <source>Printarra</source>
        <translation>Printarra</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Abrir</source>
        <translation>Abrir</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Desligar serviço</source>
        <translation>Apagar servicio</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Ligar serviço</source>
        <translation>Encender servicio</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Sair</source>
        <translation>Salir</translation>
    </message>
    <message>
        <location line="+89"/>
        <source>Atualização disponível!</source>
        <translation>Actualización disponible!</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Uma nova versão do Printarra 
está disponível para descarregar.</source>
        <translation>Una nueva versión de Printarra 
está disponible para descargar.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Mais tarde</source>
        <translation>Más tarde</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <location line="+131"/>
        <source>Descargas</source>
        <translation>Descargas</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ajuda</source>
        <translation>Ayuda</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Apoio cliente</source>
        <translation>Atención al cliente</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Logs</source>
        <translation>Logs</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Sobre</source>
        <translation>Sobre</translation>
    </message>
</context>
</TS>
