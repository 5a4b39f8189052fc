// What the shop page tests share: a private mosquitto on loopback that serves the page from
// http_dir on its WebSockets listener, child processes whose output can be waited on, and
// Debian's chromium through puppeteer-core (no browser download).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export function checker() {
  let failed = 0;
  const t0 = Date.now();
  const check = (what, ok, detail = '') => {
    const at = ((Date.now() - t0) / 1000).toFixed(1).padStart(6);
    console.log(`${at}s ${ok ? 'ok' : 'FAIL'}: ${what}${ok ? '' : ' ' + detail}`);
    if (!ok) failed++;
    return ok;
  };
  return { check, failed: () => failed };
}

export const freePort = () => new Promise((resolve, reject) => {
  const s = net.createServer().on('error', reject)
    .listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
});

// A child whose stdout and stderr are kept; waitFor resolves on the output that holds the
// text (or on exit, or on the bound), driven by the child's own events.
export function run(children, cwd, program, args) {
  const child = spawn(program, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  const waiters = new Set();
  const wake = () => { for (const w of waiters) w(); };
  child.stdout.on('data', (d) => { child.out += d; wake(); });
  child.stderr.on('data', (d) => { child.out += d; wake(); });
  child.done = new Promise((r) => child.on('exit', (code) => { child.exited = true; wake(); r(code); }));
  child.waitFor = (text, ms) => new Promise((resolve) => {
    const timer = setTimeout(() => finish(false), ms);
    const test = () => { if (child.out.includes(text)) finish(true); else if (child.exited) finish(false); };
    function finish(ok) { clearTimeout(timer); waiters.delete(test); resolve(ok); }
    waiters.add(test);
    test();
  });
  children.push(child);
  return child;
}

export function makeWork() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'cvn-web-'));
}

// accounts: { name: { password, acl: ['topic read corvane/#', ...] } }
export async function startBroker(children, work, webDir, accounts) {
  const mqttPort = await freePort();
  const wsPort = await freePort();
  let acl = '';
  for (const [name, { password, acl: lines }] of Object.entries(accounts)) {
    fs.appendFileSync(`${work}/passwd`, `${name}:${password}\n`);
    acl += `user ${name}\n${lines.join('\n')}\n`;
  }
  fs.writeFileSync(`${work}/acl`, acl);
  execFileSync('mosquitto_passwd', ['-U', `${work}/passwd`]);
  fs.chmodSync(`${work}/passwd`, 0o600);
  fs.chmodSync(`${work}/acl`, 0o600);
  // Run as root (a container), mosquitto would switch to its own user and lose its files.
  fs.writeFileSync(`${work}/mosquitto.conf`, `user ${os.userInfo().username}\nper_listener_settings false\n` +
    `allow_anonymous false\npassword_file ${work}/passwd\nacl_file ${work}/acl\n` +
    `listener ${mqttPort} 127.0.0.1\nlistener ${wsPort} 127.0.0.1\nprotocol websockets\nhttp_dir ${webDir}\n`);
  const broker = run(children, work, 'mosquitto', ['-c', `${work}/mosquitto.conf`]);
  if (!await broker.waitFor('websockets listen socket', 30000))
    throw new Error('mosquitto did not start: ' + broker.out);
  // The MQTT listener comes up before the WebSockets one, so both take connections now.
  return { broker, mqttPort, wsPort, url: `http://127.0.0.1:${wsPort}/index.html` };
}

export async function launchBrowser(work) {
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, userDataDir: `${work}/profile`,
    // Generous: on a machine shared with other builds chromium can be slow to answer.
    protocolTimeout: 120000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
}

// Waits inside the page, woken by the page's own changes, never by a timer of ours.
export async function until(page, fn, arg, ms = 30000) {
  try {
    await page.waitForFunction(fn, { polling: 'mutation', timeout: ms }, arg);
    return true;
  } catch {
    return false;
  }
}

export const text = (page, selector) => page.$eval(selector, (e) => e.textContent).catch(() => '');
export const card = (page, line) =>
  page.$eval(`.card[data-line="${line}"]`, (c) => c.className + ' ' + c.textContent).catch(() => '');
export const untilCard = (page, line, needle, ms = 30000) => until(page, ([l, n]) => {
  const c = document.querySelector(`.card[data-line="${l}"]`);
  return !!c && (c.className + ' ' + c.textContent).includes(n);
}, [line, needle], ms);

export async function cleanUp(browser, children, work) {
  if (browser) await browser.close().catch(() => {});
  for (const c of children) if (!c.exited) c.kill('SIGTERM');
  await Promise.all(children.map((c) => c.done));
  fs.rmSync(work, { recursive: true, force: true });
}
