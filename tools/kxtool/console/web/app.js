// The kxtool console's pages. Every call goes to kxtool serve's JSON API
// (docs/console.md); the page keeps nothing in the browser's storage, and a
// password typed here goes with the request that needs it only.
'use strict';

const $ = (id) => document.getElementById(id);

// ---- The API ------------------------------------------------------------

// Every API request carries X-KX-Request; a POST's Origin and the session
// cookie are the browser's own.
async function answer(response) {
  let data;
  try {
    data = await response.json();
  } catch (e) {
    data = {};
  }
  if (!response.ok && !data.error) data.error = `the console answered ${response.status}`;
  if (Array.isArray(data)) return data;
  data.status = response.status;
  return data;
}

async function get(path) {
  return answer(await fetch(path, {headers: {'X-KX-Request': '1'}}));
}

async function post(path, body) {
  return answer(await fetch(path, {
    method: 'POST',
    headers: {'Content-Type': 'application/json', 'X-KX-Request': '1'},
    body: JSON.stringify(body || {}),
  }));
}

// ---- Small helpers ------------------------------------------------------

// An element with text only: device texts never become markup.
function el(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined && text !== null) node.textContent = String(text);
  if (className) node.className = className;
  return node;
}

function show(id, text, bad) {
  const node = $(id);
  node.hidden = !text;
  node.textContent = text || '';
  node.classList.toggle('bad', !!bad);
}

const families = {};  // code: letter
let fields = [];

function letterOf(code) {
  return families[code] || String(code);
}

// How the API names a device: its address where it answers as itself
// (asked directly, no search), else its identifier.
function refOf(device) {
  return device.answers ? device.ip_address : device.device_id;
}

function keyOf(device) {
  return `${device.family} ${device.device_id}`;
}

function numbersOf(dotted) {
  return String(dotted || '').split('.').map((part) => Number(part));
}

function compareDotted(a, b) {
  const x = numbersOf(a);
  const y = numbersOf(b);
  for (let i = 0; i < Math.max(x.length, y.length); i++) {
    const d = (x[i] || 0) - (y[i] || 0);
    if (d) return d;
  }
  return 0;
}

function download(name, text) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], {type: 'application/json'}));
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

function readFile(input) {
  return new Promise((resolve, reject) => {
    const file = input.files[0];
    if (!file) return reject(new Error('choose a file'));
    const reader = new FileReader();
    reader.onload = () => {
      try {
        resolve({name: file.name, value: JSON.parse(reader.result)});
      } catch (e) {
        reject(new Error(`${file.name} is not valid JSON`));
      }
    };
    reader.onerror = () => reject(new Error(`${file.name} could not be read`));
    reader.readAsText(file);
  });
}

// One line per failed device, or the job's own error.
function jobProblem(result) {
  if (result.error) return result.error;
  const failed = (result.rows || []).filter((r) => !r.ok).map((r) => r.detail);
  return failed.join('; ');
}

// ---- Pages --------------------------------------------------------------

const pages = ['site', 'device', 'batch', 'doctor', 'history'];

function showPage() {
  const wanted = location.hash.slice(1) || 'site';
  const page = pages.includes(wanted) ? wanted : 'site';
  for (const p of pages) {
    $(`page-${p}`).hidden = p !== page;
    $(`nav-${p}`).classList.toggle('current', p === page);
  }
  if (page === 'batch') batchChosenText();
  if (page === 'site') {
    site.drawn = null;
    drawWindow();
  }
}

// ---- The job under way, and the event stream ----------------------------

let running = '';
const listeners = {progress: [], warning: []};

function setRunning(job) {
  running = job || '';
  $('job-status').textContent = running ? `under way: ${running}` : 'ready';
  $('job-stop').hidden = !running;
}

function dispatch(block) {
  let type = 'message';
  let data = '';
  for (const line of block.split('\n')) {
    if (line.startsWith('event: ')) type = line.slice(7);
    else if (line.startsWith('data: ')) data += line.slice(6);
  }
  if (!data) return;
  const event = JSON.parse(data);
  if (type === 'hello') setRunning(event.job);
  else if (type === 'job') setRunning(event.state === 'started' ? event.job : '');
  else if (listeners[type]) listeners[type].forEach((f) => f(event));
}

// Server-Sent Events read with fetch: a POST carries the Origin and the
// custom header that the console asks of its stream.
async function listen() {
  for (;;) {
    try {
      const response = await fetch('/api/events', {
        method: 'POST',
        headers: {'Content-Type': 'application/json', 'X-KX-Request': '1'},
        body: '{}',
      });
      if (!response.ok) throw new Error(String(response.status));
      const reader = response.body.getReader();
      const decoder = new TextDecoder();
      let buffer = '';
      for (;;) {
        const {value, done} = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, {stream: true});
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          dispatch(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (e) {
      // The server stopped or restarts: say so, and try again.
    }
    $('job-status').textContent = 'not connected to kxtool serve';
    $('job-stop').hidden = true;
    await new Promise((resolve) => setTimeout(resolve, 2000));
  }
}

async function stopJob() {
  await post('/api/stop');
}

// ---- Site ---------------------------------------------------------------

const site = {
  devices: [],     // as search --json lists them
  known: {},       // serial settings from reads, by key
  rows: [],        // one per device, for the table
  sortKey: 'configured',
  sortUp: true,
  chosen: new Set(),  // keys
  shown: [],       // the rows that the filter lets through, sorted
  drawn: null,     // [first, last) of shown in the page
  rowHeight: 27,   // pixels, measured once a row is drawn
  problem: '',
};

function siteRows() {
  site.rows = site.devices.map((d) => {
    const known = site.known[keyOf(d)] || {};
    return {
      device: d,
      key: keyOf(d),
      family: letterOf(d.family),
      id: d.device_id,
      name: d.device_name,
      answered: d.answered_from || (d.answers ? d.ip_address : ''),
      configured: d.configured_address || d.ip_address,
      firmware: d.firmware_version,
      baud: known.baud_rate || '',
      parity: known.parity || '',
      databits: known.data_bits || '',
      note: d.note || '',
    };
  });
  for (const row of site.rows) {
    row.text = [row.family, row.id, row.name, row.answered, row.configured, row.firmware,
      row.baud, row.parity, row.databits, row.note].join(' ').toLowerCase();
  }
}

const byKey = {
  id: (a, b) => compareDotted(a.id, b.id),
  answered: (a, b) => compareDotted(a.answered, b.answered),
  configured: (a, b) => compareDotted(a.configured, b.configured),
  baud: (a, b) => (Number(a.baud) || 0) - (Number(b.baud) || 0),
};

function shownRows() {
  const words = $('site-filter').value.toLowerCase().split(/\s+/).filter(Boolean);
  const rows = site.rows.filter((r) => words.every((w) => r.text.includes(w)));
  const compare = byKey[site.sortKey] ||
    ((a, b) => String(a[site.sortKey]).localeCompare(String(b[site.sortKey])));
  rows.sort((a, b) => (site.sortUp ? 1 : -1) * compare(a, b) || compareDotted(a.id, b.id));
  return rows;
}

function siteRow(r, index) {
  const tr = document.createElement('tr');
  if (index % 2) tr.className = 'stripe';
  const box = document.createElement('input');
  box.type = 'checkbox';
  box.checked = site.chosen.has(r.key);
  box.dataset.key = r.key;
  const first = document.createElement('td');
  first.appendChild(box);
  tr.appendChild(first);
  tr.appendChild(el('td', r.family));
  tr.appendChild(el('td', r.id, 'mono'));
  const name = el('td');
  const link = el('a', r.name || '(no name)');
  link.dataset.key = r.key;
  link.title = 'Open this device';
  name.appendChild(link);
  tr.appendChild(name);
  tr.appendChild(el('td', r.answered, 'mono'));
  tr.appendChild(el('td', r.configured, 'mono'));
  tr.appendChild(el('td', r.firmware));
  tr.appendChild(el('td', r.baud));
  tr.appendChild(el('td', r.parity));
  tr.appendChild(el('td', r.databits));
  const note = el('td', r.note, r.note ? 'bad' : '');
  if (r.note) note.title = r.note;
  tr.appendChild(note);
  return tr;
}

function spacer(rows) {
  const tr = document.createElement('tr');
  tr.className = 'spacer';
  const td = document.createElement('td');
  td.colSpan = 11;
  td.style.height = `${rows * site.rowHeight}px`;
  tr.appendChild(td);
  return tr;
}

// Only the rows near the window are in the page, between two spacers of
// the others' height: a table of 1,000 devices lays out as fast as one of
// a hundred, and scrolling draws the rows it reaches.
function drawWindow() {
  const rows = site.shown;
  const table = $('site-table');
  const top = table.tBodies[0].getBoundingClientRect().top;
  const first = Math.max(0, Math.floor(-top / site.rowHeight) - 30);
  const last = Math.min(rows.length, first + Math.ceil(innerHeight / site.rowHeight) + 60);
  if (site.drawn && site.drawn[0] === first && site.drawn[1] === last) return;
  site.drawn = [first, last];
  const body = document.createElement('tbody');
  if (first > 0) body.appendChild(spacer(first));
  for (let i = first; i < last; i++) body.appendChild(siteRow(rows[i], i));
  if (last < rows.length) body.appendChild(spacer(rows.length - last));
  table.replaceChild(body, table.tBodies[0]);
  // The rows' true height, once one is drawn (fonts differ).
  const drawnRow = body.querySelector('tr:not(.spacer)');
  if (drawnRow && drawnRow.offsetHeight && drawnRow.offsetHeight !== site.rowHeight) {
    site.rowHeight = drawnRow.offsetHeight;
    site.drawn = null;
    drawWindow();
  }
}

function renderSite() {
  site.shown = shownRows();
  site.drawn = null;
  drawWindow();
  const table = $('site-table');
  for (const th of table.tHead.rows[0].cells) {
    th.classList.toggle('sorted-up', th.dataset.sort === site.sortKey && site.sortUp);
    th.classList.toggle('sorted-down', th.dataset.sort === site.sortKey && !site.sortUp);
  }
  const rows = site.shown;
  const shown = rows.length === site.rows.length ? '' : `, ${rows.length} shown`;
  $('site-count').textContent =
    `${site.rows.length} device(s)${shown}, ${site.chosen.size} chosen`;
}

async function loadKnown() {
  const known = await get('/api/known');
  if (!known.error) site.known = known;
}

// The devices of a search, shown; the time from the search's answer to the
// table on screen is kept on the table for the benchmark.
async function showSearch(devices, problem, since) {
  site.problem = problem || '';
  const present = new Set(devices.map(keyOf));
  for (const key of [...site.chosen]) if (!present.has(key)) site.chosen.delete(key);
  // The journal's devices that this site had and the latest search missed.
  const known = await get('/api/inventory');
  const offline = (Array.isArray(known) ? known : [])
    .filter((d) => d.status === 'offline' && !present.has(keyOf(d)))
    .map((d) => ({...d, answers: false, answered_from: '', offline: true,
      note: `offline: not found by the latest search; last seen ${d.last_seen.replace(/\.\d+Z$/, 'Z')}`}));
  site.devices = devices.concat(offline);
  await loadKnown();
  siteRows();
  renderSite();
  show('site-message', site.problem, !!site.problem);
  requestAnimationFrame(() => {
    $('site-table').dataset.shownAfterMs = String(Math.round(performance.now() - since));
  });
}

// The "Beyond a router" row's items, split at commas and spaces; the
// console checks each as kxtool search --range and --target do.
function itemsOf(id) {
  return $(id).value.split(/[\s,]+/).filter(Boolean);
}

async function search() {
  $('site-search').disabled = true;
  $('site-progress').textContent = 'searching…';
  try {
    const plan = {};
    if (itemsOf('site-ranges').length) plan.ranges = itemsOf('site-ranges');
    if (itemsOf('site-targets').length) plan.targets = itemsOf('site-targets');
    const result = await post('/api/search', plan);
    const since = performance.now();
    if (result.status !== 200) {
      show('site-message', result.error, true);
    } else {
      await showSearch(result.devices, result.problem, since);
    }
  } finally {
    $('site-search').disabled = false;
    $('site-progress').textContent = '';
  }
}

async function firstSearch() {
  $('site-progress').textContent = 'searching…';
  const devices = await get('/api/devices');
  const since = performance.now();
  $('site-progress').textContent = '';
  if (!Array.isArray(devices)) {
    show('site-message', devices.error, true);
    return;
  }
  await showSearch(devices, '', since);
}

listeners.progress.push((p) => {
  if (!running.includes('search')) return;
  if (p.step === 'search_started') $('site-progress').textContent = 'searching…';
  else if (p.step === 'search_done')
    $('site-progress').textContent = `${p.found} device(s) answered; checking each at its address`;
  else if (p.step === 'device_checked')
    $('site-progress').textContent = `checked ${p.index} of ${p.total}`;
  else if (p.step === 'sweep_asked')
    $('site-progress').textContent = `asked ${p.index} of ${p.total} addresses; ${p.found} device(s) found`;
});

function chosenDevices() {
  return site.rows.filter((r) => site.chosen.has(r.key)).map((r) => r.device);
}

async function readChosen() {
  const devices = chosenDevices();
  if (!devices.length) return show('site-message', 'choose devices first (the boxes on the left)', true);
  show('site-message', `reading the settings of ${devices.length} device(s)…`);
  const result = await post('/api/batch/read', {devices: devices.map(refOf)});
  await loadKnown();
  siteRows();
  renderSite();
  const problem = jobProblem(result);
  show('site-message', problem || `read ${devices.length} device(s)`, !!problem);
}

function setUpSite() {
  $('site-search').addEventListener('click', search);
  for (const id of ['site-ranges', 'site-targets']) {
    $(id).addEventListener('keydown', (e) => {
      if (e.key === 'Enter' && !$('site-search').disabled) search();
    });
  }
  $('site-filter').addEventListener('input', renderSite);
  let drawing = false;
  window.addEventListener('scroll', () => {
    if (drawing || $('page-site').hidden) return;
    drawing = true;
    requestAnimationFrame(() => {
      drawing = false;
      drawWindow();
    });
  }, {passive: true});
  $('site-read').addEventListener('click', readChosen);
  $('site-batch').addEventListener('click', () => { location.hash = '#batch'; });
  $('site-table').tHead.addEventListener('click', (e) => {
    const key = e.target.dataset && e.target.dataset.sort;
    if (!key) return;
    site.sortUp = site.sortKey === key ? !site.sortUp : true;
    site.sortKey = key;
    renderSite();
  });
  $('site-choose-all').addEventListener('change', (e) => {
    for (const r of shownRows()) {
      if (e.target.checked) site.chosen.add(r.key);
      else site.chosen.delete(r.key);
    }
    renderSite();
  });
  $('site-table').addEventListener('click', (e) => {
    const key = e.target.dataset && e.target.dataset.key;
    if (!key) return;
    if (e.target.type === 'checkbox') {
      if (e.target.checked) site.chosen.add(key);
      else site.chosen.delete(key);
      renderSite();
    } else {
      const row = site.rows.find((r) => r.key === key);
      if (row) openDevice(row.device);
    }
  });
}

// ---- Device -------------------------------------------------------------

const device = {
  ref: '',
  family: '',
  row: null,       // the last read, or read-back
  pending: null,   // what Write sends: {path, body}
};

function openDevice(d) {
  $('device-ref').value = refOf(d);
  $('device-family').value = letterOf(d.family);
  $('device-password').value = '';
  location.hash = '#device';
  readDevice();
}

function deviceRequest() {
  const body = {device: $('device-ref').value.trim()};
  if ($('device-family').value) body.family = $('device-family').value;
  body.password = $('device-password').value;
  return body;
}

function fieldRow(f, row, letter) {
  const tr = document.createElement('tr');
  tr.dataset.field = f.name;
  tr.appendChild(el('td', f.unit ? `${f.name} (${f.unit})` : f.name, 'mono'));
  tr.appendChild(el('td', row.text[f.name]));
  const cell = document.createElement('td');
  if (f.writable) {
    const input = document.createElement('input');
    input.type = f.secret ? 'password' : 'text';
    input.autocomplete = 'off';
    input.dataset.field = f.name;
    input.setAttribute('aria-label', `new ${f.name}`);
    const words = (f.words && f.words[letter]) || [];
    if (words.length) {
      input.setAttribute('list', `words-${f.name}-${letter}`);
      if (!$(input.getAttribute('list'))) {
        const list = document.createElement('datalist');
        list.id = input.getAttribute('list');
        for (const w of words) {
          const option = document.createElement('option');
          option.value = w;
          list.appendChild(option);
        }
        document.body.appendChild(list);
      }
    }
    input.addEventListener('input', () => tr.classList.toggle('changed', input.value !== ''));
    cell.appendChild(input);
  } else {
    cell.appendChild(el('span', 'read-only', 'status'));
  }
  tr.appendChild(cell);
  const meaning = [f.meaning, letter && f.takes[letter] ? `takes ${f.takes[letter]}` : '', f.notes]
    .filter(Boolean).join('; ');
  tr.appendChild(el('td', meaning, 'meaning'));
  return tr;
}

function renderDevice(row) {
  device.row = row;
  const letter = letterOf(row.family);
  $('device-title').textContent = `${row.device}, family ${letter}, ${row.text.device_name}`;
  const body = document.createElement('tbody');
  for (const f of fields) body.appendChild(fieldRow(f, row, letter));
  const table = $('device-fields');
  table.replaceChild(body, table.tBodies[0]);
  $('device-body').hidden = false;
}

async function readDevice() {
  const request = deviceRequest();
  if (!request.device) return show('device-message', 'name a device: its address or identifier', true);
  $('device-review').hidden = true;
  $('device-result').hidden = true;
  show('device-message', `reading ${request.device}…`);
  const result = await post('/api/read', request);
  if (result.status !== 200 || !result.ok) {
    $('device-body').hidden = true;
    return show('device-message', jobProblem(result), true);
  }
  show('device-message', '');
  renderDevice(result.rows[0]);
}

function typedChanges() {
  const changes = {};
  for (const input of $('device-fields').querySelectorAll('input[data-field]')) {
    if (input.value !== '') changes[input.dataset.field] = input.value;
  }
  return changes;
}

function review(title, result, path, body) {
  const row = result.rows && result.rows[0];
  if (result.status !== 200 || !result.ok || !row) {
    $('device-review').hidden = true;
    return show('device-message', jobProblem(result), true);
  }
  show('device-message', '');
  $('device-review-title').textContent = title;
  const tbody = document.createElement('tbody');
  for (const d of row.differences || []) {
    const tr = document.createElement('tr');
    tr.appendChild(el('td', d.field, 'mono'));
    tr.appendChild(el('td', d.secret ? '(not shown)' : d.before));
    tr.appendChild(el('td', d.secret ? '(changes)' : d.after));
    tbody.appendChild(tr);
  }
  const table = $('device-diff');
  table.replaceChild(tbody, table.tBodies[0]);
  const none = !(row.differences || []).length;
  $('device-left').textContent = [
    none ? 'Nothing would change.' : '',
    row.left_alone ? `Left as they are (identity of this device): ${row.left_alone.join(', ')}` : '',
  ].filter(Boolean).join(' ');
  $('device-write').disabled = none;
  device.pending = none ? null : {path, body};
  $('device-review').hidden = false;
  $('device-result').hidden = true;
}

async function previewChanges() {
  const changes = typedChanges();
  if (!Object.keys(changes).length) return show('device-message', 'type a new value first', true);
  const body = {...deviceRequest(), changes};
  const result = await post('/api/set', {...body, dry_run: true});
  review('Preview: current → new', result, '/api/set', body);
}

async function previewRestore() {
  let file;
  try {
    file = await readFile($('device-restore'));
  } catch (e) {
    return show('device-message', e.message, true);
  } finally {
    $('device-restore').value = '';
  }
  if (!file.value || typeof file.value !== 'object' || Array.isArray(file.value))
    return show('device-message', `${file.name} holds no settings object`, true);
  const body = {...deviceRequest(), backup: file.value, source: file.name,
    clone: $('device-clone').checked};
  const result = await post('/api/restore', {...body, dry_run: true});
  review(`Restore from ${file.name}: current → new`, result, '/api/restore', body);
}

async function writePending() {
  const pending = device.pending;
  if (!pending) return;
  $('device-write').disabled = true;
  show('device-message', 'writing, then reading back…');
  const result = await post(pending.path, pending.body);
  device.pending = null;
  $('device-review').hidden = true;
  const row = result.rows && result.rows[0];
  const box = $('device-result');
  box.textContent = '';
  if (result.status !== 200 || !result.ok) {
    show('device-message', jobProblem(result), true);
    if (row && row.text) renderDevice(row);
    return;
  }
  show('device-message', '');
  box.appendChild(el('p', 'Written and read back: the device kept every value.', 'good'));
  const list = el('ul');
  for (const d of row.differences || []) {
    const shown = d.secret ? '(changed, not shown)' : row.text[d.field];
    list.appendChild(el('li', `${d.field} = ${shown}`, 'mono'));
  }
  box.appendChild(list);
  box.hidden = false;
  renderDevice(row);
  loadKnown().then(() => { siteRows(); renderSite(); });
}

async function saveDevice() {
  if (!device.row) await readDevice();
  if (!device.row || !device.row.backup) {
    // After a write the row is its read-back: read once more for the file.
    await readDevice();
  }
  if (device.row && device.row.backup) download(`${device.row.device_id}.json`, device.row.backup);
}

function setUpDevice() {
  $('device-read').addEventListener('click', readDevice);
  $('device-ref').addEventListener('change', () => { $('device-password').value = ''; });
  $('device-preview').addEventListener('click', previewChanges);
  $('device-restore').addEventListener('change', previewRestore);
  $('device-write').addEventListener('click', writePending);
  $('device-cancel').addEventListener('click', () => {
    device.pending = null;
    $('device-review').hidden = true;
  });
  $('device-save').addEventListener('click', saveDevice);
}

// ---- Batch --------------------------------------------------------------

function batchChosenText() {
  const devices = chosenDevices();
  $('batch-chosen').textContent = devices.length
    ? `${devices.length} device(s) chosen on the Site page: ` +
      devices.slice(0, 8).map((d) => d.device_name || d.device_id).join(', ') +
      (devices.length > 8 ? ', …' : '')
    : 'No device chosen: choose them on the Site page (the boxes on the left).';
}

function resultRow(row) {
  const tr = document.createElement('tr');
  tr.appendChild(el('td', row.device, 'mono'));
  tr.appendChild(el('td', row.family ? letterOf(row.family) : ''));
  const word = row.ok ? 'ok' : row.interrupted ? 'interrupted' : 'FAILED';
  tr.appendChild(el('td', word, row.ok ? 'good' : 'bad'));
  tr.appendChild(el('td', row.detail));
  return tr;
}

function showResults(rows) {
  const body = document.createElement('tbody');
  for (const row of rows) body.appendChild(resultRow(row));
  const table = $('batch-results');
  table.replaceChild(body, table.tBodies[0]);
}

let batchRunning = false;

listeners.progress.push((p) => {
  if (!batchRunning || !p.total) return;
  if (p.step === 'device_started') {
    $('batch-progress').max = p.total;
    $('batch-progress-text').textContent = `${p.index} of ${p.total}: ${p.name}`;
  } else if (p.step === 'device_done') {
    $('batch-progress').value = p.index;
    $('batch-results').tBodies[0].appendChild(resultRow(p.row));
  }
});

async function runBatch() {
  const devices = chosenDevices();
  if (!devices.length) return show('batch-message', 'choose devices on the Site page first', true);
  const kind = document.querySelector('input[name="batch-kind"]:checked').value;
  const body = {devices: devices.map(refOf)};
  if ($('batch-password').value !== '') body.password = $('batch-password').value;
  let path;
  if (kind === 'quick') {
    path = '/api/batch/quick';
    body.setting = $('batch-setting').value;
    body.value = $('batch-value').value.trim();
    if (!body.value) return show('batch-message', 'type the value to set', true);
  } else {
    path = '/api/batch/apply';
    try {
      const file = await readFile($('batch-file'));
      body.settings = file.value;
      body.source = file.name;
    } catch (e) {
      return show('batch-message', e.message, true);
    }
    body.dry_run = $('batch-dry-run').checked;
  }
  showResults([]);
  show('batch-message', '');
  $('batch-progress').value = 0;
  $('batch-progress').max = devices.length;
  $('batch-progress-text').textContent = 'starting…';
  $('batch-run').disabled = true;
  $('batch-stop').disabled = false;
  batchRunning = true;
  let result;
  try {
    result = await post(path, body);
  } finally {
    batchRunning = false;
    $('batch-run').disabled = false;
    $('batch-stop').disabled = true;
  }
  if (result.status !== 200) {
    $('batch-progress-text').textContent = '';
    return show('batch-message', result.error, true);
  }
  showResults(result.rows);
  if (result.error && !result.rows.length) {
    $('batch-progress-text').textContent = '';
    return show('batch-message', result.error, true);
  }
  const ok = result.rows.filter((r) => r.ok).length;
  const stopped = result.rows.filter((r) => r.interrupted).length;
  const failed = result.rows.length - ok - stopped;
  $('batch-progress-text').textContent =
    `${ok} ok, ${failed} failed` + (stopped ? `, ${stopped} interrupted` : '');
  show('batch-message', result.error || (result.warnings || []).join('; '), !!result.error);
  loadKnown().then(() => { siteRows(); renderSite(); });
}

function setUpBatch() {
  $('batch-run').addEventListener('click', runBatch);
  $('batch-stop').addEventListener('click', stopJob);
}

// ---- Doctor -------------------------------------------------------------

async function runDoctor() {
  $('doctor-run').disabled = true;
  $('doctor-status').textContent = 'checking…';
  try {
    const result = await post('/api/doctor');
    if (result.status !== 200) {
      $('doctor-status').textContent = result.error;
      return;
    }
    $('doctor-output').textContent = result.lines.join('\n');
    $('doctor-status').textContent = result.problem ? 'something needs attention' : 'all well';
    $('doctor-status').className = result.problem ? 'bad' : 'good';
  } finally {
    $('doctor-run').disabled = false;
  }
}

// ---- History: the journal's changes -------------------------------------

function changeText(f) {
  if (f.secret) return `${f.field}: changed (not shown)`;
  return `${f.field}: ${f.before ?? '(not read)'} → ${f.after ?? '(not read back)'}`;
}

async function showHistory() {
  const status = $('history-status');
  const body = $('history-table').tBodies[0];
  body.textContent = '';
  status.className = 'status';
  status.textContent = 'reading the journal…';
  const device = $('history-device').value.trim();
  const changes = await get('/api/history' + (device ? `?device=${encodeURIComponent(device)}` : ''));
  if (!Array.isArray(changes)) {
    status.textContent = changes.error;
    status.className = 'bad';
    return;
  }
  status.textContent = changes.length ? `${changes.length} change(s), newest first` : 'no change recorded';
  for (const c of changes) {
    const where = c.address ? `${c.address} (${c.device_id})` : `${c.device_id} (broadcast)`;
    const lines = c.fields.map(changeText);
    if (!c.ok || !lines.length) lines.push(c.ok ? 'nothing changed' : c.detail);
    for (const line of lines) {
      const tr = document.createElement('tr');
      for (const text of [c.time.replace(/\.\d+Z$/, 'Z'), `${c.user}@${c.host}`, where, c.command,
        c.ok ? 'ok' : 'FAILED', line]) {
        tr.appendChild(el('td', text));
      }
      if (!c.ok) tr.className = 'bad';
      body.appendChild(tr);
    }
  }
}

// ---- Start --------------------------------------------------------------

async function start() {
  setUpSite();
  setUpDevice();
  setUpBatch();
  $('doctor-run').addEventListener('click', runDoctor);
  $('history-show').addEventListener('click', showHistory);
  $('history-device').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') showHistory();
  });
  $('job-stop').addEventListener('click', stopJob);
  window.addEventListener('hashchange', showPage);
  showPage();
  listen();
  const known = await get('/api/fields');
  for (const f of known.families || []) {
    families[f.code] = f.letter;
    const option = el('option', f.letter);
    option.value = f.letter;
    $('device-family').appendChild(option);
  }
  fields = known.fields || [];
  await firstSearch();
}

start();
