.pragma library
// Terms of use shown on the first start (European Portuguese); rich text for a QML Text element.
var text = `<h2>Printarra — Termos de utilização</h2>
<p><i>Versão 1.0 — dezembro de 2026</i></p>

<h3>1. Sobre estes termos</h3>
<p>1.1 O Printarra é um programa da Velora, disponibilizado gratuitamente aos utilizadores da sua aplicação web. Ao carregar no botão de aceitação, abaixo, declara que leu e aceita estes termos. Se não os aceitar, não use o programa.</p>

<h3>2. O que o Printarra faz</h3>
<p>2.1 O Printarra liga a aplicação web de ponto de venda e faturação da Velora, aberta no navegador, às impressoras de talões e aos terminais de pagamento deste computador. Para isso:</p>
<ul>
<li>disponibiliza um serviço local seguro (HTTPS) na porta 5080, que a aplicação web chama;</li>
<li>converte os trabalhos de impressão em comandos ESC/POS e entrega-os às filas de impressão do sistema (CUPS);</li>
<li>comunica com terminais de pagamento USB pelas portas série;</li>
<li>mostra notificações curtas enviadas pela aplicação web;</li>
<li>mostra uma pequena janela e um ícone na área de notificação.</li>
</ul>
<p>2.2 Na janela pode ligar ou desligar o serviço e escolher, para cada impressora e terminal, se a aplicação web o pode usar.</p>

<h3>3. O que guarda e onde</h3>
<p>3.1 Nas definições da sua conta de utilizador neste computador (normalmente ~/.config/Velora/Printarra.conf), o Printarra guarda apenas: se aceitou estes termos, se o serviço está ligado, a chave de segurança, o modo de compatibilidade e, por impressora e terminal, se a aplicação web o pode usar. Guarda também alguns valores técnicos de funcionamento.</p>
<p>3.2 As notificações ficam só na memória: no máximo as 20 mais recentes, cada uma apagada ao fim de 20 minutos.</p>
<p>3.3 Em modo de depuração, as últimas 100 linhas de registo ficam na memória para o ecrã de registo. Não são gravadas em disco nem enviadas.</p>
<p>3.4 O Printarra não guarda talões, dados de cartões nem dados pessoais.</p>

<h3>4. Com quem comunica</h3>
<p>4.1 O Printarra comunica apenas com:</p>
<ul>
<li><b>a aplicação web da Velora</b>: os navegadores só deixam ler as respostas do Printarra a páginas da Velora e do próprio computador (localhost);</li>
<li><b>os aparelhos locais</b>: impressoras através do CUPS e terminais através das portas série;</li>
<li><b>o serviço de atualizações da Velora</b>, ao qual envia apenas o número da versão instalada (como qualquer servidor, vê também o endereço IP do pedido).</li>
</ul>
<p>4.2 Os dados de pagamento circulam apenas entre a aplicação web e o terminal; é o terminal que fala com o seu banco. O Printarra não envia talões, dados de cartões nem dados pessoais à Velora nem a terceiros.</p>

<h3>5. A chave de segurança</h3>
<p>5.1 A chave de segurança aparece na janela do Printarra e é introduzida na aplicação web. Pedidos sem ela são recusados. É ela que impede outros aparelhos da sua rede local de usar as suas impressoras e terminais.</p>
<p>5.2 <b>Mantenha a chave privada:</b> não a partilhe nem a deixe à vista. Se suspeitar que alguém a conhece, contacte-nos (secção 12) para gerar uma chave nova e introduza-a depois na aplicação web.</p>

<h3>6. As suas responsabilidades</h3>
<p>6.1 O Printarra imprime e envia o que a aplicação web lhe indica, sem verificar valores, impostos ou dados. Confira os talões e os montantes antes de os entregar ou de confirmar um pagamento, e confirme no terminal o resultado de cada pagamento.</p>
<p>6.2 As obrigações legais de faturação e fiscais continuam a ser suas. O Printarra não é um programa de faturação; apenas liga a aplicação aos aparelhos.</p>
<p>6.3 Autorize apenas as impressoras e os terminais que a aplicação deve usar, e mantenha o computador e os aparelhos seguros.</p>

<h3>7. Atualizações</h3>
<p>7.1 Uma vez por hora, o Printarra pergunta ao serviço de atualizações da Velora se há uma versão mais recente e, se houver, avisa-o. Não instala nada sozinho. Recomendamos que as instale, porque corrigem erros e falhas de segurança.</p>

<h3>8. Sem garantia</h3>
<p>8.1 O Printarra é gratuito e fornecido tal como está. Dentro do que a lei permite, a Velora não garante que funcione sem interrupções ou erros, nem com todos os aparelhos e computadores.</p>

<h3>9. Limitação de responsabilidade</h3>
<p>9.1 Dentro do que a lei permite, a Velora não responde por danos indiretos, como vendas perdidas, paragens do negócio ou perda de dados, nem por falhas de aparelhos, do sistema, de bancos ou de outros terceiros, nem pelo uso indevido de uma chave que não foi mantida privada.</p>
<p>9.2 Esta limitação não se aplica a dolo ou culpa grave da Velora, a danos à vida ou à saúde, nem a outros casos em que a lei não a permite.</p>

<h3>10. Deixar de usar</h3>
<p>10.1 Pode deixar de usar o Printarra quando quiser: feche-o e desinstale-o com o gestor de pacotes.</p>
<p>10.2 Ficam para trás: o ficheiro de definições de cada conta que o usou (~/.config/Velora/Printarra.conf, com a chave e as suas escolhas), que pode apagar; o certificado local do Printarra nos navegadores, se o instalou, que retira com o comando printarra-trust --remove antes de desinstalar; e os trabalhos já entregues ao CUPS.</p>

<h3>11. Alterações a estes termos</h3>
<p>11.1 A Velora pode alterar estes termos quando o programa ou a lei mudam. Cada versão tem número e data; as alterações relevantes serão anunciadas no Printarra ou na aplicação web antes de produzirem efeitos. Se não concordar, pode deixar de usar o programa.</p>

<h3>12. Contacto e lei aplicável</h3>
<p>12.1 Dúvidas, problemas ou questões de segurança: suporte@velora.pt</p>
<p>12.2 Estes termos regem-se pela lei portuguesa, sem prejuízo das regras obrigatórias que lhe deem mais direitos, como as de proteção do consumidor.</p>`;
