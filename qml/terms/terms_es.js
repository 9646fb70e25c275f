.pragma library
// Terms of use shown on the first start (Spanish); rich text for a QML Text element.
var text = `<h2>Printarra — Condiciones de uso</h2>
<p><i>Versión 1.0 — diciembre de 2026</i></p>

<h3>1. Sobre estas condiciones</h3>
<p>1.1 Printarra es un programa de Velora, gratuito para los usuarios de su aplicación web. Al pulsar el botón de aceptación de abajo, declara que ha leído y acepta estas condiciones. Si no las acepta, no use el programa.</p>

<h3>2. Qué hace Printarra</h3>
<p>2.1 Printarra conecta la aplicación web de punto de venta y facturación de Velora, abierta en el navegador, con las impresoras de tiques y los terminales de pago de este ordenador. Para ello:</p>
<ul>
<li>ofrece un servicio local seguro (HTTPS) en el puerto 5080, al que llama la aplicación web;</li>
<li>convierte los trabajos de impresión en comandos ESC/POS y los entrega a las colas de impresión del sistema (CUPS);</li>
<li>se comunica con terminales de pago USB por los puertos serie;</li>
<li>muestra notificaciones breves enviadas por la aplicación web;</li>
<li>muestra una pequeña ventana y un icono en el área de notificación.</li>
</ul>
<p>2.2 En la ventana puede activar o desactivar el servicio y elegir, para cada impresora y terminal, si la aplicación web puede usarlo.</p>

<h3>3. Qué guarda y dónde</h3>
<p>3.1 En la configuración de su cuenta de usuario en este ordenador (normalmente ~/.config/Velora/Printarra.conf), Printarra guarda solo: si aceptó estas condiciones, si el servicio está activado, la clave de seguridad, el modo de compatibilidad y, por impresora y terminal, si la aplicación web puede usarlo. También guarda algunos valores técnicos.</p>
<p>3.2 Las notificaciones solo se guardan en memoria: como máximo las 20 más recientes, cada una borrada a los 20 minutos.</p>
<p>3.3 En modo de depuración, las últimas 100 líneas de registro se guardan en memoria para mostrarlas en la pantalla de registro. No se escriben en disco ni se envían.</p>
<p>3.4 Printarra no guarda tiques, datos de tarjetas ni datos personales.</p>

<h3>4. Con quién se comunica</h3>
<p>4.1 Printarra se comunica solo con:</p>
<ul>
<li><b>la aplicación web de Velora</b>: los navegadores solo dejan leer sus respuestas a páginas de Velora y de este ordenador (localhost);</li>
<li><b>los dispositivos locales</b>: impresoras mediante CUPS y terminales mediante los puertos serie;</li>
<li><b>el servicio de actualizaciones de Velora</b>, al que envía solo el número de la versión instalada (como cualquier servidor, ve también la dirección IP de la petición).</li>
</ul>
<p>4.2 Los datos de pago circulan solo entre la aplicación web y el terminal; el terminal habla con su banco. Printarra no envía tiques, datos de tarjetas ni datos personales a Velora ni a terceros.</p>

<h3>5. La clave de seguridad</h3>
<p>5.1 La clave de seguridad aparece en la ventana de Printarra y se introduce en la aplicación web. Las peticiones sin ella se rechazan. Es lo que impide que otros dispositivos de su red local usen sus impresoras y terminales.</p>
<p>5.2 <b>Mantenga la clave en privado:</b> no la comparta ni la deje a la vista. Si sospecha que alguien la conoce, contáctenos (sección 12) para generar una clave nueva e introdúzcala después en la aplicación web.</p>

<h3>6. Sus responsabilidades</h3>
<p>6.1 Printarra imprime y envía lo que le indica la aplicación web, sin comprobar importes, impuestos ni datos. Revise tiques e importes antes de entregarlos o de confirmar un pago, y compruebe en el terminal el resultado de cada pago.</p>
<p>6.2 Las obligaciones legales de facturación y fiscales siguen siendo suyas. Printarra no es un programa de facturación; solo conecta la aplicación con los dispositivos.</p>
<p>6.3 Autorice solo las impresoras y los terminales que la aplicación deba usar, y mantenga seguros el ordenador y los dispositivos.</p>

<h3>7. Actualizaciones</h3>
<p>7.1 Una vez por hora, Printarra pregunta al servicio de actualizaciones de Velora si hay una versión más reciente y, si la hay, se lo indica. No instala nada por sí solo. Le recomendamos instalarlas, porque corrigen errores y fallos de seguridad.</p>

<h3>8. Sin garantía</h3>
<p>8.1 Printarra es gratuito y se ofrece tal cual. Dentro de lo que permita la ley, Velora no garantiza que funcione sin interrupciones ni errores, ni con todos los dispositivos y ordenadores.</p>

<h3>9. Limitación de responsabilidad</h3>
<p>9.1 Dentro de lo que permita la ley, Velora no responde de daños indirectos, como ventas perdidas, paradas del negocio o pérdida de datos, ni de fallos de dispositivos, del sistema, de bancos o de terceros, ni del uso indebido de una clave que no se mantuvo en privado.</p>
<p>9.2 Esta limitación no se aplica al dolo o la culpa grave de Velora, a daños a la vida o la salud, ni a otros casos en que la ley no la permita.</p>

<h3>10. Dejar de usarlo</h3>
<p>10.1 Puede dejar de usar Printarra cuando quiera: ciérrelo y desinstálelo con el gestor de paquetes.</p>
<p>10.2 Quedan en el equipo: el archivo de configuración de cada cuenta que lo usó (~/.config/Velora/Printarra.conf, con la clave y sus elecciones), que puede borrar; el certificado local de Printarra en los navegadores, si lo instaló, que se retira con el comando printarra-trust --remove antes de desinstalar; y los trabajos ya entregados a CUPS.</p>

<h3>11. Cambios en estas condiciones</h3>
<p>11.1 Velora puede cambiar estas condiciones cuando cambien el programa o la ley. Cada versión tiene número y fecha; los cambios importantes se anunciarán en Printarra o en la aplicación web antes de que surtan efecto. Si no está de acuerdo, puede dejar de usar el programa.</p>

<h3>12. Contacto y ley aplicable</h3>
<p>12.1 Dudas, problemas o cuestiones de seguridad: suporte@velora.pt</p>
<p>12.2 Estas condiciones se rigen por la ley portuguesa, sin perjuicio de las normas obligatorias que le den más derechos, como las de protección del consumidor.</p>`;
