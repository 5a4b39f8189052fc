// The shop in a browser: a client of the shop's broker, nothing more. It reads the retained
// states, events and library listings the served lines publish and sends the same commands
// `corvane-cli shop send` sends. The password lives in this page's memory only.
'use strict';

const TEXTS = {
  en: {
    title: 'Shop', broker: 'Broker', user: 'User', password: 'Password', connect: 'Connect',
    disconnected: 'not connected', connected: 'connected', push: 'Send a program', line: 'Line',
    program: 'Program', send: 'Send', cancel: 'Cancel', journal: 'Journal', all: 'all',
    result: 'Result', time: 'Time', file: 'File', bytes: 'Bytes', since: 'since', last: 'last',
    badLogin: 'Wrong user or password.', notAllowed: 'This account may not do that.',
    noBroker: 'The broker cannot be reached.', sent: 'Sent; waiting for the line…',
    idle: 'idle', receiving: 'receiving', sending: 'sending', held: 'held', waiting: 'waiting',
    error: 'error', offline: 'offline', notServed: 'not served',
    results: {},
  },
  ja: {
    title: '工場', broker: 'ブローカー', user: 'ユーザー', password: 'パスワード', connect: '接続',
    disconnected: '未接続', connected: '接続中', push: 'プログラム送信', line: 'ライン',
    program: 'プログラム', send: '送信', cancel: '中止', journal: '記録', all: 'すべて',
    result: '結果', time: '時刻', file: 'ファイル', bytes: 'バイト', since: '以降', last: '前回',
    badLogin: 'ユーザー名またはパスワードが違います。', notAllowed: 'このアカウントには権限がありません。',
    noBroker: 'ブローカーに接続できません。', sent: '送信しました。ラインの応答を待っています…',
    idle: '待機', receiving: '受信中', sending: '送信中', held: '保留', waiting: '待ち',
    error: 'エラー', offline: 'オフライン', notServed: 'サービス停止',
    results: { completed: '完了', interrupted: '中断', timeout: 'タイムアウト', failed: '失敗',
      'not-found': 'ファイルなし', refused: '拒否' },
  },
};
// The browser's language, or ?lang=ja / ?lang=en for a shared screen set up by someone else.
const lang = (new URLSearchParams(location.search).get('lang') ||
  (navigator.languages && navigator.languages[0]) || navigator.language || 'en')
  .toLowerCase().startsWith('ja') ? 'ja' : 'en';
const T = TEXTS[lang];
const PREFIX = 'corvane/';
const MAX_EVENTS = 200;

const lines = new Map();     // name -> last state
const libraries = new Map(); // name -> listing
const events = [];           // newest first
let client = null;
let pendingId = null;

const $ = (id) => document.getElementById(id);

function translatePage() {
  document.documentElement.lang = lang;
  for (const el of document.querySelectorAll('[data-t]')) el.textContent = T[el.dataset.t];
  document.title = 'Corvane — ' + T.title;
}

function shortTime(iso) {
  if (!iso) return '';
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleString(lang === 'ja' ? 'ja-JP' : undefined);
}

function baseName(path) { return (path || '').split(/[\\/]/).pop(); }

// The journal's own words stay in English; the page shows them in the reader's language.
function resultText(result) { return T.results[result] || result; }

function renderCards() {
  const box = $('cards');
  const names = [...lines.keys()].sort();
  box.replaceChildren(...names.map((name) => {
    const s = lines.get(name);
    const card = document.createElement('article');
    const state = s.state || 'offline';
    card.className = 'card ' + state;
    card.dataset.line = name;
    const h = document.createElement('h3');
    h.textContent = name;
    const st = document.createElement('div');
    st.className = 'state';
    st.textContent = state === 'offline' && s.served === false ? T.notServed : (T[state] || state);
    if (state === 'offline')
      st.textContent += lang === 'ja' ? ` ${shortTime(s.time)} ${T.since}` : ` ${T.since} ${shortTime(s.time)}`;
    card.append(h, st);
    // Why a line is offline (its port is away): the line's own words, as its log gives them.
    if (state === 'offline' && typeof s.reason === 'string' && s.reason) {
      const r = document.createElement('div');
      r.className = 'reason';
      r.textContent = s.reason;
      card.append(r);
    }
    if (s.file) {
      const f = document.createElement('div');
      f.className = 'file';
      f.textContent = baseName(s.file);
      const bar = document.createElement('progress');
      if (s.total > 0) { bar.max = s.total; bar.value = Math.min(s.position, s.total); }
      const pos = document.createElement('div');
      pos.className = 'position';
      pos.textContent = s.total > 0 ? `${s.position} / ${s.total}` : `${s.position}`;
      card.append(f, bar, pos);
    }
    if (s.last_result) {
      const l = document.createElement('div');
      l.className = 'last r-' + s.last_result;
      l.textContent = `${T.last}: ${resultText(s.last_result)} ${baseName(s.last_file)} ${shortTime(s.last_time)}`;
      card.append(l);
    }
    return card;
  }));
  fillSelect($('pushLine'), names, false);
  fillSelect($('filterLine'), names, true);
  renderPrograms();
}

function fillSelect(select, values, withAll) {
  const keep = select.value;
  const options = values.map((v) => new Option(v, v));
  if (withAll) options.unshift(new Option(T.all, ''));
  select.replaceChildren(...options);
  if ([...select.options].some((o) => o.value === keep)) select.value = keep;
}

function renderPrograms() {
  const listing = libraries.get($('pushLine').value);
  fillSelect($('pushProgram'), listing ? listing.files.map((f) => f.name) : [], false);
  const busy = lines.get($('pushLine').value);
  $('cancel').disabled = !busy || !['sending', 'receiving', 'held', 'waiting'].includes(busy.state);
}

function renderEvents() {
  const line = $('filterLine').value;
  const result = $('filterResult').value;
  const results = [...new Set(events.map((e) => e.result))].sort();
  fillSelect($('filterResult'), results, true);
  for (const o of $('filterResult').options) if (o.value) o.textContent = resultText(o.value);
  $('filterResult').value = result;
  $('events').replaceChildren(...events
    .filter((e) => (!line || e.line === line) && (!result || e.result === result))
    .map((e) => {
      const tr = document.createElement('tr');
      // A command turned away has no file; the name it asked for stands in.
      const cells = [shortTime(e.time), e.line, baseName(e.file) || e.request || '', e.bytes,
        (e.sha256 || '').slice(0, 12), resultText(e.result) + (e.message ? ' — ' + e.message : '')];
      cells.forEach((text, i) => {
        const td = document.createElement('td');
        td.textContent = text;
        if (i === 4) td.className = 'sha';
        if (i === 5) td.className = 'r-' + e.result;
        tr.append(td);
      });
      return tr;
    }));
}

function parse(payload) {
  try { return JSON.parse(new TextDecoder().decode(payload)); } catch { return null; }
}

function onMessage(topic, payload) {
  const parts = topic.split('/');
  if (parts.length !== 3) return;
  const [, line, kind] = parts;
  const data = parse(payload);
  if (!data) return;
  if (kind === 'state') { lines.set(line, data); renderCards(); }
  else if (kind === 'library') { libraries.set(line, data); renderPrograms(); }
  else if (kind === 'event') {
    events.unshift(data);
    events.length = Math.min(events.length, MAX_EVENTS);
    renderEvents();
    if (pendingId && data.command === pendingId) {
      $('answer').textContent = `${line}: ${resultText(data.result)}${data.message ? ' — ' + data.message : ''}`;
      $('answer').className = 'answer r-' + data.result;
      pendingId = null;
    }
  }
}

function connect(url, username, password) {
  if (client) client.end(true);
  $('loginError').textContent = '';
  client = mqtt.connect(url, {
    username: username || undefined, password: password || undefined,
    clientId: 'corvane-web-' + Math.random().toString(16).slice(2, 10),
    reconnectPeriod: 3000, connectTimeout: 8000, clean: true,
    // MQTT 5: the broker answers a publish its access list forbids with a reason code, where
    // MQTT 3.1.1 would acknowledge it and drop it, and the page would wait for nothing.
    protocolVersion: 5,
  });
  client.on('connect', () => {
    $('conn').textContent = T.connected;
    $('conn').className = 'conn ok';
    $('loginError').textContent = '';
    client.subscribe([PREFIX + '+/state', PREFIX + '+/event', PREFIX + '+/library'], { qos: 1 });
  });
  client.on('message', onMessage);
  client.on('close', () => { $('conn').textContent = T.disconnected; $('conn').className = 'conn'; });
  client.on('error', (err) => {
    // 4: bad user name or password, 5: not authorised. Trying again would not help.
    if (err && (err.code === 4 || err.code === 5 || err.code === 134 || err.code === 135)) {
      $('loginError').textContent = T.badLogin;
      client.end(true);
    } else {
      $('loginError').textContent = T.noBroker;
    }
  });
}

function command(body) {
  const line = $('pushLine').value;
  if (!client || !client.connected || !line) return;
  const id = 'web-' + Date.now().toString(36) + Math.random().toString(36).slice(2, 6);
  pendingId = id;
  client.publish(PREFIX + line + '/command', JSON.stringify({ ...body, id }), { qos: 1 }, (err) => {
    // The line's answer may already be there when the broker's acknowledgement comes.
    if (pendingId !== id) return;
    $('answer').className = err ? 'answer r-refused' : 'answer';
    $('answer').textContent = err ? T.notAllowed : T.sent;
    if (err) pendingId = null;
  });
}

function start() {
  translatePage();
  const params = new URLSearchParams(location.search);
  if (params.has('board')) document.body.classList.add('board');
  const secure = location.protocol === 'https:';
  $('url').value = params.get('broker') ||
    (location.host ? `${secure ? 'wss' : 'ws'}://${location.host}/` : 'ws://127.0.0.1:8080/');
  $('login').addEventListener('submit', (e) => {
    e.preventDefault();
    connect($('url').value, $('user').value, $('password').value);
  });
  $('pushLine').addEventListener('change', renderPrograms);
  $('filterLine').addEventListener('change', renderEvents);
  $('filterResult').addEventListener('change', renderEvents);
  $('send').addEventListener('click', () => command({ send: $('pushProgram').value }));
  $('cancel').addEventListener('click', () => command({ cancel: true }));
  // A wall display (the board) connects by itself with the account in its address.
  if (params.has('user')) {
    $('user').value = params.get('user');
    connect($('url').value, params.get('user'), params.get('password') || '');
  }
}

start();
