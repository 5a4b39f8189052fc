// The shop page driving real served lines: `corvane-cli serve` serves two lines on
// pseudo-terminals where cnc-sim plays the machines, and chromium clicks the page like an
// operator. The screenshots of the manual are taken here, from these lines.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { checker, makeWork, run, startBroker, launchBrowser, until, untilCard, text, card, cleanUp }
  from './harness.mjs';

const [cli, sim, webDir, shots] = process.argv.slice(2);
const { check, failed } = checker();
const work = makeWork();
fs.mkdirSync(shots, { recursive: true });
const children = [];
const start = (program, args) => run(children, work, program, args);
let browser;

const program = '%\nO1234 (PUSHED FROM THE PAGE)\n' +
  Array.from({ length: 600 }, (_, i) => `G01 X${i}. Y${i % 97}. F500.`).join('\n') + '\nM30\n%\n';
const punched = '%\nO0042 (FACE MILL ROUGH)\n' +
  Array.from({ length: 120 }, (_, i) => `N${(i + 1) * 10} G01 X${i}.5 Y-${i % 13}. F800.`).join('\n') + '\nM30\n%\n';
fs.mkdirSync(`${work}/lib`);
fs.writeFileSync(`${work}/lib/O1234.NC`, program);
fs.writeFileSync(`${work}/lib/O2001.NC`, program.replace('O1234', 'O2001'));
fs.writeFileSync(`${work}/O0042.txt`, punched);
fs.writeFileSync(`${work}/corvane.cfg`, '');
fs.writeFileSync(`${work}/ISO.MDF`, '[MCN_RS232C]\nBaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\n' +
  'OutCode=0\nPtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n[MCN_Config]\nOutofFile=0\nXoff=1\n' +
  'ErCode=3\nLfCode=1\nComment=0\nHeadLf=1\nPtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=1\nDefExt=NC\n' +
  'PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n');
fs.writeFileSync(`${work}/pw`, 'line-pw\n', { mode: 0o600 });

try {
  const { mqttPort, url } = await startBroker(children, work, webDir, {
    office: { password: 'office-pw', acl: ['topic read corvane/#', 'topic write corvane/+/command'] },
    line: { password: 'line-pw', acl: ['topic readwrite corvane/#'] },
  });
  const serve = {};
  for (const line of ['mill1', 'lathe2']) {
    fs.writeFileSync(`${work}/${line}.ini`, `[Line]\nName=${line}\nMachine=ISO.MDF\nPort=${work}/${line}.tty\n` +
      `Inbox=inbox-${line}\nLibrary=lib\nRequestDelay=100\nBroker=mqtt://127.0.0.1:${mqttPort}\n` +
      `BrokerUser=line\nBrokerPasswordFile=${work}/pw\n`);
    serve[line] = start(cli, ['--cfg', `${work}/corvane.cfg`, 'serve', '--retry-ms', '200', `${work}/${line}.ini`]);
  }
  for (const line of ['mill1', 'lathe2'])
    if (!await serve[line].waitFor('reporting to', 30000)) throw new Error(`${line}: ${serve[line].out}`);

  browser = await launchBrowser(work);
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  await page.goto(url);
  await page.type('#user', 'office');
  await page.type('#password', 'office-pw');
  await page.click('#login button');
  check('every served line has its card', await untilCard(page, 'mill1', 'mill1') &&
    await untilCard(page, 'lathe2', 'lathe2'));
  check('the library is offered', await until(page,
    () => [...document.querySelectorAll('#pushProgram option')].some((o) => o.value === 'O1234.NC')));
  // A phone in Japanese and the wall display watch from the start, so their journals fill too.
  const ja = await browser.newPage();
  await ja.setViewport({ width: 390, height: 844 });
  await ja.goto(`${url}?user=office&password=office-pw&lang=ja`);
  const board = await browser.newPage();
  await board.setViewport({ width: 1920, height: 1080 });
  await board.goto(`${url}?board&user=office&password=office-pw`);
  check('the other pages see the lines', await untilCard(ja, 'mill1', 'mill1') && await untilCard(board, 'lathe2', 'lathe2'));
  await page.bringToFront();
  const answer = (needle, ms = 60000) => until(page, (n) => document.querySelector('#answer').textContent.includes(n), needle, ms);
  const push = async (line, name) => {
    await page.select('#pushLine', line);
    await page.select('#pushProgram', name);
    await page.click('#send');
  };

  // A push from the page reaches the machine as `corvane-cli send` writes it.
  {
    const machine = start(sim, ['read', '--record', `${work}/page.bin`, '--start-repeat-ms', '300',
      '--link', `${work}/mill1.tty`, '--exit-after-ms', '120000']);
    check('the line is idle once its machine is there', await untilCard(page, 'mill1', 'card idle'), await card(page, 'mill1'));
    await push('mill1', 'O1234.NC');
    check('the page shows the push completed', await answer('mill1: completed', 120000),
      `${await text(page, '#answer')} | ${await card(page, 'mill1')} | ${serve.mill1.out}`);
    await machine.done;
    execFileSync(cli, ['--cfg', `${work}/corvane.cfg`, 'send', '-q', '-m', `${work}/ISO.MDF`, '-o', `${work}/cli.bin`,
      `${work}/lib/O1234.NC`]);
    const a = fs.readFileSync(`${work}/page.bin`);
    const b = fs.readFileSync(`${work}/cli.bin`);
    check('the machine got byte for byte what corvane-cli send writes', a.length > 10000 && a.equals(b),
      `${a.length} vs ${b.length} bytes`);
    check('the card tells the last transfer', await untilCard(page, 'mill1', 'last: completed O1234.NC'), await card(page, 'mill1'));
  }

  // A punch turns the card within a second of the state's arrival at another subscriber.
  {
    const watcher = start('mosquitto_sub', ['-h', '127.0.0.1', '-p', String(mqttPort), '-u', 'office', '-P', 'office-pw',
      '-t', 'corvane/lathe2/state']);
    let stateAt = 0;
    watcher.stdout.on('data', () => { if (!stateAt && watcher.out.includes('"receiving"')) stateAt = Date.now(); });
    await page.evaluate(() => {
      window.receivingAt = 0;
      new MutationObserver(() => {
        if (!window.receivingAt && document.querySelector('.card.receiving[data-line="lathe2"]')) window.receivingAt = Date.now();
      }).observe(document.querySelector('#cards'), { childList: true, subtree: true });
    });
    // The machine stays on the line after its punch, so the card shows the line idle.
    const machine = start(sim, ['punch', '--program', `${work}/O0042.txt`, '--cps', '600', '--linger-ms', '600000',
      '--link', `${work}/lathe2.tty`]);
    check('the punch is received', await untilCard(page, 'lathe2', 'last: completed O0042.NC', 120000),
      `${await card(page, 'lathe2')} | ${serve.lathe2.out} | ${machine.out}`);
    const receivingAt = await page.evaluate(() => window.receivingAt);
    const lag = receivingAt - stateAt;
    console.log(`card turned receiving ${lag} ms after the state reached mosquitto_sub`);
    check('the card turned within 1 s of the state', stateAt > 0 && receivingAt > 0 && lag < 1000, `${lag} ms`);
    check('the program is filed', fs.readFileSync(`${work}/inbox-lathe2/O0042.NC`, 'latin1').includes('N1200 G01'));
  }

  // A busy line: a second push is refused with its reason, a cancel ends the transfer.
  {
    const machine = start(sim, ['read', '--cps', '40', '--start-repeat-ms', '300', '--link', `${work}/mill1.tty`,
      '--exit-after-ms', '600000']);
    await untilCard(page, 'mill1', 'card idle');
    await push('mill1', 'O2001.NC');
    check('the busy line shows its transfer', await until(page, () =>
      !!document.querySelector('.card[data-line="mill1"]:is(.sending, .held) progress[value]') &&
      document.querySelector('.card[data-line="mill1"] progress').value > 300, undefined, 120000), await card(page, 'mill1'));
    await push('mill1', 'O1234.NC');
    check('a push to a busy line is refused with its reason', await answer('mill1: refused — busy'), await text(page, '#answer'));

    await page.screenshot({ path: `${shots}/web-1280.png` });
    await page.setViewport({ width: 390, height: 844 });
    await page.screenshot({ path: `${shots}/web-390.png`, fullPage: true });
    await page.setViewport({ width: 1280, height: 800 });
    check('the Japanese page follows the lines', await untilCard(ja, 'mill1', 'O2001.NC') &&
      await until(ja, () => document.querySelectorAll('#events tr').length >= 3), await card(ja, 'mill1'));
    await ja.screenshot({ path: `${shots}/web-390-ja.png`, fullPage: true });
    await untilCard(board, 'mill1', 'O2001.NC');
    await board.screenshot({ path: `${shots}/web-board.png` });

    check('the cancel button is offered', await until(page, () => !document.querySelector('#cancel').disabled));
    await page.click('#cancel');
    check('a cancel from the page ends the transfer', await answer('mill1: interrupted — cancelled the send of'),
      await text(page, '#answer'));
    check('the card shows the cancelled transfer', await untilCard(page, 'mill1', 'last: interrupted O2001.NC') &&
      await until(page, () => !document.querySelector('.card[data-line="mill1"]:is(.sending, .held)')), await card(page, 'mill1'));
    machine.kill('SIGTERM');
    await machine.done;
  }

  // A name that is no library name: the line's reason comes back to the page.
  await page.evaluate(() => document.querySelector('#pushProgram').append(new Option('../mill1.ini', '../mill1.ini')));
  await page.select('#pushProgram', '../mill1.ini');
  await page.click('#send');
  check('a refused name shows the reason', await answer('mill1: refused — '), await text(page, '#answer'));

  // The service killed: its last will greys the card.
  serve.mill1.kill('SIGKILL');
  check('a killed service shows offline', await untilCard(page, 'mill1', 'card offline'), await card(page, 'mill1'));
  check('… and not served', (await card(page, 'mill1')).includes('not served'), await card(page, 'mill1'));
} catch (e) {
  check('the run', false, e.stack);
} finally {
  await cleanUp(browser, children, work);
}
process.exit(failed() ? 1 : 0);
