<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="pt">
<context>
    <name>Config</name>
    <message>
        <location filename="Config.qml" line="+13"/>
        <source>Configuração de impressora</source>
        <translation>Printer&apos;s configuration</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações das impressoras no terminal do ponto de venda</source>
        <translation>Set printers configurations on the point of sale&apos;s terminal</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Impressoras</source>
        <translation>Printers</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrada nenhuma impressora</source>
        <translation>No printer found</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Os trabalhos da pré-visualização são guardados em %1</source>
        <translation>Preview jobs are saved in %1</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Abrir pasta</source>
        <translation>Open folder</translation>
    </message>
</context>
<context>
    <name>DeviceListPanel</name>
    <message>
        <location filename="customComponents/DeviceListPanel.qml" line="+64"/>
        <source>Estado</source>
        <translation>Status</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Disponível</source>
        <translation>Available</translation>
    </message>
    <message>
        <location line="-30"/>
        <source>Atualizar lista</source>
        <translation>Update list</translation>
    </message>
</context>
<context>
    <name>Initial</name>
    <message>
        <location filename="Initial.qml" line="+31"/>
        <source>Configuração de dispositivos</source>
        <translation>Devices configuration</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Escolha o tipo de dispositivo que pretende configurar</source>
        <translation>Choose the device you want to configure</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Estado do serviço</source>
        <translation>Service status</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>A porta %1 está ocupada por outro programa</source>
        <translation>Port %1 is in use by another program</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não é possível escutar na porta %1</source>
        <translation>Cannot listen on port %1</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Termos de utilização por aceitar</source>
        <translation>Terms of use not accepted</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Certificado TLS inutilizável</source>
        <translation>TLS certificate unusable</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A aceitar pedidos na porta %1</source>
        <translation>Listening on port %1</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Chave de segurança:</source>
        <translation>Security key:</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>Copiado!</source>
        <translation>Copied!</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Impressoras</source>
        <translation>Printers</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar impressoras no ponto de venda.</source>
        <translation>Set up printers on the point of sale.</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Terminais de pagamento automático (TPA)</source>
        <translation>Payment terminals</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar terminais no ponto de venda.</source>
        <translation>Set up payment terminals on the point of sale.</translation>
    </message>
</context>
<context>
    <name>License</name>
    <message>
        <location filename="License.qml" line="+63"/>
        <source>ACEITO OS TERMOS DE UTILIZAÇÃO DO VELORA</source>
        <translation>I ACCEPT VELORA&apos;S TERMS AND CONDITIONS</translation>
    </message>
</context>
<context>
    <name>ListScreen</name>
    <message>
        <location filename="customComponents/ListScreen.qml" line="+53"/>
        <source>Voltar</source>
        <translation>Back</translation>
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
        <translation>View the logs</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Mensagem</source>
        <translation>Message</translation>
    </message>
</context>
<context>
    <name>OverlayAbout</name>
    <message>
        <location filename="customComponents/OverlayAbout.qml" line="+123"/>
        <source>O Printarra está desatualizado</source>
        <translation>Printarra is out of date</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>O Printarra está atualizado</source>
        <translation>Printarra is up to date</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Versão: </source>
        <translation>Version: </translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Data:</source>
        <translation>Date:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Sistema operativo:</source>
        <translation>Operating system:</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Copiado!</source>
        <translation>Copied!</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Modo Compatibilidade</source>
        <translation>Compatibility Mode</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>Atualização disponível.</source>
        <translation>Update available.</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Descarregar</source>
        <translation>Download</translation>
    </message>
</context>
<context>
    <name>PrintClient</name>
    <message>
        <location filename="../app/printclient.cpp" line="+51"/>
        <source>Impressão de teste enviada para %1</source>
        <translation>Test print sent to %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou</source>
        <translation>The test print on %1 failed</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou: %2</source>
        <translation>The test print on %1 failed: %2</translation>
    </message>
    <message>
        <location line="+220"/>
        <source>Serviço de impressão ligado</source>
        <translation>Print service on</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Serviço de impressão desligado</source>
        <translation>Print service off</translation>
    </message>
</context>
<context>
    <name>PrinterListItem</name>
    <message>
        <location filename="configComponents/PrinterListItem.qml" line="+17"/>
        <source>Ligado</source>
        <translation>Turn on</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Desligado</source>
        <translation>Turn off</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Sem papel</source>
        <translation>Out of paper</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Tampa aberta</source>
        <translation>Cover open</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Papel encravado</source>
        <translation>Paper jam</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Sem ligação</source>
        <translation>No connection</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Pouco papel</source>
        <translation>Paper low</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>A imprimir…</source>
        <translation>Printing…</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Imprimir teste</source>
        <translation>Test print</translation>
    </message>
</context>
<context>
    <name>Terminals</name>
    <message>
        <location filename="Terminals.qml" line="+10"/>
        <source>Configuração de terminais de pagamento automático (TPA)</source>
        <translation>Mobile payment terminals configuration</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações dos terminais de pagamento no ponto de venda</source>
        <translation>Set up payment terminal configurations on the point of sale</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Terminais</source>
        <translation>Terminals</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrado nenhum terminal</source>
        <translation>No terminal found</translation>
    </message>
</context>
<context>
    <name>TestPrint</name>
    <message>
        <location filename="../app/testprint.cpp" line="+32"/>
        <source>Impressão de teste</source>
        <translation>Test print</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Português</source>
        <translation>Portuguese</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Espanhol</source>
        <translation>Spanish</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Se consegue ler este talão, a impressora está pronta.</source>
        <translation>If you can read this receipt, the printer is ready.</translation>
    </message>
</context>
<context>
    <name>TpaListItem</name>
    <message>
        <location filename="configComponents/TpaListItem.qml" line="+10"/>
        <source>Ligado</source>
        <translation>Turn on</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Disabled</translation>
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
        <translation>Open</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Desligar serviço</source>
        <translation>Turn off service</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Ligar serviço</source>
        <translation>Turn on service</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Sair</source>
        <translation>Quit</translation>
    </message>
    <message>
        <location line="+89"/>
        <source>Atualização disponível!</source>
        <translation>Update available!</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Uma nova versão do Printarra 
está disponível para descarregar.</source>
        <translation>A new version of Printarra
is available for download.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Mais tarde</source>
        <translation>Later</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar</source>
        <translation>Update</translation>
    </message>
    <message>
        <location line="+131"/>
        <source>Descargas</source>
        <translation>Downloads</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ajuda</source>
        <translation>Help</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Apoio cliente</source>
        <translation>Support</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Logs</source>
        <translation>Logs</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Sobre</source>
        <translation>About</translation>
    </message>
</context>
</TS>
