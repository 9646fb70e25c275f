.pragma library
// Terms of use shown on the first start (English); rich text for a QML Text element.
var text = `<h2>Printarra — Terms of use</h2>
<p><i>Version 1.0 — December 2026</i></p>

<h3>1. About these terms</h3>
<p>1.1 Printarra is a program made by Velora and provided free of charge to users of Velora's web application. By pressing the accept button below, you confirm that you have read and accept these terms. If you do not accept them, do not use the program.</p>

<h3>2. What Printarra does</h3>
<p>2.1 Printarra connects Velora's web point-of-sale and invoicing application, open in your browser, to the receipt printers and payment terminals of this computer. To do so, it:</p>
<ul>
<li>offers a secure local service (HTTPS) on port 5080, which the web application calls;</li>
<li>turns print jobs into ESC/POS commands and hands them to the system's print queues (CUPS);</li>
<li>talks to USB payment terminals through their serial ports;</li>
<li>shows short notifications sent by the web application;</li>
<li>shows a small window and an icon in the notification area.</li>
</ul>
<p>2.2 In the window you can switch the service on or off and choose, for each printer and terminal, whether the web application may use it.</p>

<h3>3. What it stores and where</h3>
<p>3.1 In the settings of your user account on this computer (usually ~/.config/Velora/Printarra.conf), Printarra stores only: whether you accepted these terms, whether the service is on, the security key, the compatibility mode setting and, per printer and terminal, whether the web application may use it. It also stores a few technical values it needs to run.</p>
<p>3.2 Notifications are kept in memory only: at most the 20 newest, each deleted after 20 minutes.</p>
<p>3.3 In debug mode, the last 100 log lines are kept in memory for the log screen. They are not written to disk or sent anywhere.</p>
<p>3.4 Printarra does not store receipts, card data or personal data.</p>

<h3>4. Who it talks to</h3>
<p>4.1 Printarra talks only to:</p>
<ul>
<li><b>Velora's web application</b>: browsers let only Velora's pages and pages of this computer (localhost) read Printarra's answers;</li>
<li><b>the local devices</b>: printers through CUPS and terminals through the serial ports;</li>
<li><b>Velora's update service</b>, to which it sends only the number of the installed version (like any server, it also sees the IP address the request comes from).</li>
</ul>
<p>4.2 Payment data travels only between the web application and the payment terminal; the terminal talks to its bank itself. Printarra sends no receipts, card data or personal data to Velora or to anyone else.</p>

<h3>5. The security key</h3>
<p>5.1 The security key is shown in Printarra's window and is entered in the web application. Requests without it are refused. It is what stops other devices on your local network from using your printers and terminals.</p>
<p>5.2 <b>Keep the key private:</b> do not share it or leave it in view. If you suspect someone else knows it, contact us (section 12) to have a new key made, and then enter the new key in the web application.</p>

<h3>6. Your responsibilities</h3>
<p>6.1 Printarra prints and sends what the web application tells it to, without checking amounts, taxes or data. Check receipts and amounts before handing them to the customer or confirming a payment, and check the result of each payment on the terminal.</p>
<p>6.2 Your legal duties for invoicing and taxes remain yours. Printarra is not invoicing software; it only connects the application to the devices.</p>
<p>6.3 Allow only the printers and terminals the application should use, and keep the computer and the devices secure.</p>

<h3>7. Updates</h3>
<p>7.1 Once an hour, Printarra asks Velora's update service whether a newer version exists and, if so, tells you. It does not install anything by itself. We recommend installing updates, because they fix errors and security flaws.</p>

<h3>8. No warranty</h3>
<p>8.1 Printarra is free and provided "as is". To the extent the law allows, Velora does not guarantee that it will work without interruptions or errors, or with every device and computer.</p>

<h3>9. Limitation of liability</h3>
<p>9.1 To the extent the law allows, Velora is not liable for indirect damage, such as lost sales, business interruption or loss of data, nor for failures of devices, of the system, of banks or of other third parties, nor for misuse of a key that was not kept private.</p>
<p>9.2 This limitation does not apply to intent or gross negligence by Velora, to harm to life or health, or to other cases where the law does not allow it.</p>

<h3>10. Ending use</h3>
<p>10.1 You may stop using Printarra at any time: close it and uninstall it with the package manager.</p>
<p>10.2 What stays behind: the settings file of each account that used it (~/.config/Velora/Printarra.conf, with the key and your choices), which you may delete; Printarra's local certificate in your browsers, if you installed it, which you remove with the command printarra-trust --remove before uninstalling; and jobs already handed to CUPS.</p>

<h3>11. Changes to these terms</h3>
<p>11.1 Velora may change these terms when the program or the law changes. Each version has a number and a date; significant changes will be announced in Printarra or in the web application before they take effect. If you do not agree, you may stop using the program.</p>

<h3>12. Contact and governing law</h3>
<p>12.1 Questions, problems or security concerns: suporte@velora.pt</p>
<p>12.2 These terms are governed by Portuguese law, without prejudice to mandatory rules that give you more rights, such as consumer protection rules.</p>`;
