<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt" sourcelanguage="pt">
<context>
    <name>Config</name>
    <message>
        <location filename="Config.qml" line="+13"/>
        <source>Configuração de impressora</source>
        <translation>Configuração de impressora</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações das impressoras no terminal do ponto de venda</source>
        <translation>Defina as configurações das impressoras no terminal do ponto de venda</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Impressoras</source>
        <translation>Impressoras</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrada nenhuma impressora</source>
        <translation>Não foi encontrada nenhuma impressora</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Os trabalhos da pré-visualização são guardados em %1</source>
        <translation>Os trabalhos da pré-visualização são guardados em %1</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Abrir pasta</source>
        <translation>Abrir pasta</translation>
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
        <translation>Disponível</translation>
    </message>
    <message>
        <location line="-30"/>
        <source>Atualizar lista</source>
        <translation>Atualizar lista</translation>
    </message>
</context>
<context>
    <name>Initial</name>
    <message>
        <location filename="Initial.qml" line="+31"/>
        <source>Configuração de dispositivos</source>
        <translation>Configuração de dispositivos</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Escolha o tipo de dispositivo que pretende configurar</source>
        <translation>Escolha o tipo de dispositivo que pretende configurar</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Estado do serviço</source>
        <translation>Estado do serviço</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>A porta %1 está ocupada por outro programa</source>
        <translation>A porta %1 está ocupada por outro programa</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não é possível escutar na porta %1</source>
        <translation>Não é possível escutar na porta %1</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Termos de utilização por aceitar</source>
        <translation>Termos de utilização por aceitar</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Certificado TLS inutilizável</source>
        <translation>Certificado TLS inutilizável</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A aceitar pedidos na porta %1</source>
        <translation>A aceitar pedidos na porta %1</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Ativo</source>
        <translation>Ativo</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Desativo</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Chave de segurança:</source>
        <translation>Chave de segurança:</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>Copiado!</source>
        <translation>Copiado!</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Impressoras</source>
        <translation>Impressoras</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar impressoras no ponto de venda.</source>
        <translation>Configurar impressoras no ponto de venda.</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Terminais de pagamento automático (TPA)</source>
        <translation>Terminais de pagamento automático (TPA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar terminais no ponto de venda.</source>
        <translation>Configurar terminais no ponto de venda.</translation>
    </message>
</context>
<context>
    <name>License</name>
    <message>
        <location filename="License.qml" line="+63"/>
        <source>ACEITO OS TERMOS DE UTILIZAÇÃO DO VELORA</source>
        <translation>ACEITO OS TERMOS DE UTILIZAÇÃO DO VELORA</translation>
    </message>
</context>
<context>
    <name>ListScreen</name>
    <message>
        <location filename="customComponents/ListScreen.qml" line="+53"/>
        <source>Voltar</source>
        <translation>Voltar</translation>
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
        <translation>Consulte os logs</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Mensagem</source>
        <translation>Mensagem</translation>
    </message>
</context>
<context>
    <name>OverlayAbout</name>
    <message>
        <location filename="customComponents/OverlayAbout.qml" line="+123"/>
        <source>O Printarra está desatualizado</source>
        <translation>O Printarra está desatualizado</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>O Printarra está atualizado</source>
        <translation>O Printarra está atualizado</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Versão: </source>
        <translation>Versão: </translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Data:</source>
        <translation>Data:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Sistema operativo:</source>
        <translation>Sistema operativo:</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Copiado!</source>
        <translation>Copiado!</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Modo Compatibilidade</source>
        <translation>Modo Compatibilidade</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ativo</source>
        <translation>Ativo</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Desativo</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>Atualização disponível.</source>
        <translation>Atualização disponível.</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Descarregar</source>
        <translation>Descarregar</translation>
    </message>
</context>
<context>
    <name>PrintClient</name>
    <message>
        <location filename="../app/printclient.cpp" line="+51"/>
        <source>Impressão de teste enviada para %1</source>
        <translation>Impressão de teste enviada para %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou</source>
        <translation>A impressão de teste em %1 falhou</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>A impressão de teste em %1 falhou: %2</source>
        <translation>A impressão de teste em %1 falhou: %2</translation>
    </message>
    <message>
        <location line="+220"/>
        <source>Serviço de impressão ligado</source>
        <translation>Serviço de impressão ligado</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Serviço de impressão desligado</source>
        <translation>Serviço de impressão desligado</translation>
    </message>
</context>
<context>
    <name>PrinterListItem</name>
    <message>
        <location filename="configComponents/PrinterListItem.qml" line="+17"/>
        <source>Ligado</source>
        <translation>Ligado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Desligado</source>
        <translation>Desligado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Ativo</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Inativo</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Sem papel</source>
        <translation>Sem papel</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Tampa aberta</source>
        <translation>Tampa aberta</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Papel encravado</source>
        <translation>Papel encravado</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Sem ligação</source>
        <translation>Sem ligação</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Pouco papel</source>
        <translation>Pouco papel</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>A imprimir…</source>
        <translation>A imprimir…</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Imprimir teste</source>
        <translation>Imprimir teste</translation>
    </message>
</context>
<context>
    <name>Terminals</name>
    <message>
        <location filename="Terminals.qml" line="+10"/>
        <source>Configuração de terminais de pagamento automático (TPA)</source>
        <translation>Configuração de terminais de pagamento automático (TPA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações dos terminais de pagamento no ponto de venda</source>
        <translation>Defina as configurações dos terminais de pagamento no ponto de venda</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Terminais</source>
        <translation>Terminais</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrado nenhum terminal</source>
        <translation>Não foi encontrado nenhum terminal</translation>
    </message>
</context>
<context>
    <name>TestPrint</name>
    <message>
        <location filename="../app/testprint.cpp" line="+32"/>
        <source>Impressão de teste</source>
        <translation>Impressão de teste</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Português</source>
        <translation>Português</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Espanhol</source>
        <translation>Espanhol</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Se consegue ler este talão, a impressora está pronta.</source>
        <translation>Se consegue ler este talão, a impressora está pronta.</translation>
    </message>
</context>
<context>
    <name>TpaListItem</name>
    <message>
        <location filename="configComponents/TpaListItem.qml" line="+10"/>
        <source>Ligado</source>
        <translation>Ligado</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ativo</source>
        <translation>Ativo</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Inativo</source>
        <translation>Inativo</translation>
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
        <translation>Desligar serviço</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Ligar serviço</source>
        <translation>Ligar serviço</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Sair</source>
        <translation>Sair</translation>
    </message>
    <message>
        <location line="+89"/>
        <source>Atualização disponível!</source>
        <translation>Atualização disponível!</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Uma nova versão do Printarra 
está disponível para descarregar.</source>
        <translation>Uma nova versão do Printarra 
está disponível para descarregar.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Mais tarde</source>
        <translation>Mais tarde</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar</source>
        <translation>Atualizar</translation>
    </message>
    <message>
        <location line="+131"/>
        <source>Descargas</source>
        <translation>Descargas</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ajuda</source>
        <translation>Ajuda</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Apoio cliente</source>
        <translation>Apoio cliente</translation>
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
