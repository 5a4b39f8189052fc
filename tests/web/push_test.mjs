// The shop page driving a real served line: a private mosquitto serves the page and carries
// MQTT over WebSockets, `corvane-cli serve` serves a line on a pseudo-terminal where cnc-sim
// plays the machine, and Debian's chromium (through puppeteer-core, no browser download)
// clicks the page like an operator.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [cli, sim, webDir, shots] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cvn-web-'));
const children = [];
let failed = 0;
const check = (what, ok, detail = '') => {
  console.log(`${ok ? 'ok' : 'FAIL'}: ${what}${ok ? '' : ' ' + detail}`);
  if (!ok) failed++;
};
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const freePort = () => new Promise((resolve) => {
  const s = net.createServer().listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
});
function run(program, args) {
  const child = spawn(program, args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  child.stdout.on('data', (d) => { child.out += d; });
  child.stderr.on('data', (d) => { child.out += d; });
  child.done = new Promise((r) => child.on('exit', (code) => r(code)));
  children.push(child);
  return child;
}
async function until(what, fn, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) { if (await fn()) return true; await sleep(50); }
  return false;
}

const mqttPort = await freePort();
const wsPort = await freePort();
execFileSync('mosquitto_passwd', ['-b', '-c', `${work}/passwd`, 'office', 'office-pw']);
execFileSync('mosquitto_passwd', ['-b', `${work}/passwd`, 'line', 'line-pw']);
fs.writeFileSync(`${work}/acl`, 'user office\ntopic read corvane/#\ntopic write corvane/+/command\n' +
  'user line\ntopic readwrite corvane/#\n');
fs.writeFileSync(`${work}/mosquitto.conf`, `user ${os.userInfo().username}\nper_listener_settings false\n` +
  `allow_anonymous false\npassword_file ${work}/passwd\nacl_file ${work}/acl\n` +
  `listener ${mqttPort} 127.0.0.1\nlistener ${wsPort} 127.0.0.1\nprotocol websockets\nhttp_dir ${webDir}\n`);
const broker = run('mosquitto', ['-c', `${work}/mosquitto.conf`]);
await until('broker', () => broker.out.includes('websockets listen socket'), 5000);

const program = '%\nO1234 (PUSHED FROM THE PAGE)\n' +
  Array.from({ length: 600 }, (_, i) => `G01 X${i}. Y${i % 97}. F500.`).join('\n') + '\nM30\n%\n';
fs.mkdirSync(`${work}/lib`);
fs.writeFileSync(`${work}/lib/O1234.NC`, program);
fs.writeFileSync(`${work}/corvane.cfg`, '');
fs.writeFileSync(`${work}/ISO.MDF`, '[MCN_RS232C]\nBaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\n' +
  'OutCode=0\nPtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n[MCN_Config]\nOutofFile=0\nXoff=1\n' +
  'ErCode=3\nLfCode=1\nComment=0\nHeadLf=1\nPtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=1\nDefExt=NC\n' +
  'PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n');
fs.writeFileSync(`${work}/pw`, 'line-pw\n', { mode: 0o600 });
fs.writeFileSync(`${work}/mill1.ini`, `[Line]\nName=mill1\nMachine=ISO.MDF\nPort=${work}/tty\nInbox=inbox\n` +
  `Library=lib\nRequestDelay=100\nBroker=mqtt://127.0.0.1:${mqttPort}\nBrokerUser=line\nBrokerPasswordFile=${work}/pw\n`);
const serve = run(cli, ['--cfg', `${work}/corvane.cfg`, 'serve', '--retry-ms', '200', `${work}/mill1.ini`]);
await until('serve', () => serve.out.includes('reporting to'), 5000);

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true,
  userDataDir: `${work}/profile`,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  await page.goto(`http://127.0.0.1:${wsPort}/index.html`);
  await page.type('#user', 'office');
  await page.type('#password', 'office-pw');
  await page.click('#login button');
  const card = (line) => page.$eval(`.card[data-line="${line}"]`, (c) => c.className + ' ' + c.textContent).catch(() => '');
  check('the served line has its card', await until('card', async () => (await card('mill1')).length > 0, 8000));
  check('its library is offered', await until('lib', async () =>
    (await page.$$eval('#pushProgram option', (o) => o.map((x) => x.value))).includes('O1234.NC'), 8000));

  // A push from the page, the machine reading; the bytes are compared with the same push
  // from the terminal's shop send.
  const push = async (how) => {
    const s = run(sim, ['read', '--record', `${work}/${how}.bin`, '--start-repeat-ms', '300', '--link', `${work}/tty`, '--exit-after-ms', '30000']);
    // The service tries the new port every 200 ms: the line is idle again before the push.
    await until('link', () => fs.existsSync(`${work}/tty`), 5000);
    await sleep(100);
    if (how === 'page') {
      await page.select('#pushLine', 'mill1');
      await page.select('#pushProgram', 'O1234.NC');
      await page.click('#send');
      check('the page shows the answer', await until('answer', async () =>
        (await page.$eval('#answer', (a) => a.textContent)).includes('mill1: completed'), 40000),
        (await page.$eval('#answer', (a) => a.textContent)) + ' | ' + (await card('mill1')) + ' | ' + serve.out + s.out);
    } else {
      await until('idle', async () => (await card('mill1')).startsWith('card idle'), 5000);
      execFileSync(cli, ['--cfg', `${work}/corvane.cfg`, 'shop', 'send', '--broker', `mqtt://127.0.0.1:${mqttPort}`,
        '--user', 'office', '--password-file', `${work}/opw`, 'mill1', 'O1234']);
    }
    await s.done;
  };
  fs.writeFileSync(`${work}/opw`, 'office-pw\n', { mode: 0o600 });
  await push('page');
  await push('cli');
  const a = fs.readFileSync(`${work}/page.bin`);
  const b = fs.readFileSync(`${work}/cli.bin`);
  check('a push from the page reaches the machine byte for byte as shop send', a.length > 10000 && a.equals(b),
    `${a.length} vs ${b.length}`);
  await page.screenshot({ path: `${shots}/web-1280.png` });

  // Refused: the reason comes back to the page.
  await page.evaluate(() => { const o = new Option('../mill1.ini', '../mill1.ini'); document.querySelector('#pushProgram').append(o); });
  await page.select('#pushProgram', '../mill1.ini');
  await page.click('#send');
  check('a refused push shows its reason', await until('refused', async () =>
    (await page.$eval('#answer', (x) => x.textContent)).includes('refused'), 8000));

  // The service killed: its last will makes the card offline.
  serve.kill('SIGKILL');
  check('a killed service shows offline', await until('offline', async () =>
    (await card('mill1')).startsWith('card offline'), 30000), await card('mill1'));
} finally {
  await browser.close();
  for (const c of children) c.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
