// The shop page as a browser gets it, fed by retained states that stand for the lines: every
// line gets its card, the library its list, a wrong password is told, and the page speaks
// Japanese. Each check waits on the page's own document, so a slow machine only makes it slower.
import { execFileSync } from 'node:child_process';
import { checker, makeWork, startBroker, launchBrowser, until, untilCard, text, card, cleanUp } from './harness.mjs';

const [webDir] = process.argv.slice(2);
const { check, failed } = checker();
const work = makeWork();
const children = [];
let browser;
try {
  const { mqttPort, url } = await startBroker(children, work, webDir, {
    viewer: { password: 'viewer-pw', acl: ['topic read corvane/#'] },
    line: { password: 'line-pw', acl: ['topic readwrite corvane/#'] },
  });
  const pub = (topic, message) => execFileSync('mosquitto_pub', ['-h', '127.0.0.1', '-p', String(mqttPort),
    '-u', 'line', '-P', 'line-pw', '-r', '-q', '1', '-t', topic, '-m', message]);
  pub('corvane/mill1/state', '{"line":"mill1","state":"sending","file":"/lib/O0012.NC","position":1200,' +
    '"total":30500,"time":"2026-12-09T17:00:00Z","served":true}');
  pub('corvane/lathe2/state', '{"line":"lathe2","state":"offline","file":"","position":0,"total":0,' +
    '"time":"2026-12-09T15:10:00Z","served":false}');
  pub('corvane/drill3/state', '{"line":"drill3","state":"offline","time":"2026-12-09T16:00:00Z","served":true,' +
    '"reason":"port not available: <b>The port does not exist.</b>"}');
  pub('corvane/mill1/library', '{"files":[{"name":"O0077.NC","size":812,"modified":"2026-12-09T11:00:00Z"}],"more":0}');

  browser = await launchBrowser(work);
  const page = await browser.newPage();
  await page.goto(`${url}?user=viewer&password=viewer-pw`);
  check('every line from its retained state', await untilCard(page, 'mill1', 'O0012.NC'), await card(page, 'mill1'));
  check('the offline line too', await untilCard(page, 'lathe2', 'card offline'), await card(page, 'lathe2'));
  check('progress position/total', (await card(page, 'mill1')).includes('1200 / 30500'));
  check('an offline line whose service is gone says so', (await card(page, 'lathe2')).includes('not served'));
  check('an offline line says why, as text', await untilCard(page, 'drill3', '<b>The port does not exist.</b>'),
    await card(page, 'drill3'));
  check('the library in the program list', await until(page,
    () => [...document.querySelectorAll('#pushProgram option')].some((o) => o.value === 'O0077.NC')));
  check('the viewer may not send: the page says so', await (async () => {
    await page.select('#pushProgram', 'O0077.NC');
    await page.click('#send');
    return until(page, () => document.querySelector('#answer').textContent.length > 0);
  })() && !(await text(page, '#answer')).includes('Sent'), await text(page, '#answer'));

  const bad = await browser.newPage();
  await bad.goto(`${url}?user=viewer&password=wrong`);
  check('a wrong password is told', await until(bad,
    () => document.querySelector('#loginError').textContent === 'Wrong user or password.'), await text(bad, '#loginError'));

  const ja = await browser.newPage();
  await ja.goto(`${url}?user=viewer&password=viewer-pw&lang=ja`);
  check('the Japanese page', await untilCard(ja, 'lathe2', 'サービス停止') &&
    (await text(ja, 'h1')) === '工場' && (await ja.$eval('html', (h) => h.lang)) === 'ja', await card(ja, 'lathe2'));
  await ja.goto(`${url}?user=viewer&password=wrong&lang=ja`);
  check('a wrong password is told in Japanese', await until(ja,
    () => document.querySelector('#loginError').textContent.includes('パスワードが違います')));
} catch (e) {
  check('the run', false, e.stack);
} finally {
  await cleanUp(browser, children, work);
}
process.exit(failed() ? 1 : 0);
