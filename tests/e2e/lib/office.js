'use strict';
// A private copy of the sample office for one journey, the persons as its
// files describe them, and what the board should show for each of them.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const sjis = require('./sjis');

const REPO = path.resolve(__dirname, '..', '..', '..');
const SAMPLE = path.join(REPO, 'examples', 'office');
const MAKE_OFFICE = path.join(REPO, 'tools', 'make_office.py');

// Status marks of the sample kavel.ini after the four built-in ones.
const CUSTOM_MARKS = ['外出', '会議'];
const MARK_CAPTIONS = ['不在', ...CUSTOM_MARKS];

function localDateText(d) {
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())}`;
}

// Copies the sample (icons included) and rewrites its dated files for
// today. Returns the office directory.
function makeOffice(root) {
  const dir = path.join(root, 'office');
  fs.cpSync(SAMPLE, dir, { recursive: true });
  execFileSync('python3', [MAKE_OFFICE, '--out', dir, '--date', localDateText(new Date())]);
  return dir;
}

// Points the office's kavel.ini at the given HTTP and UDP ports.
function setPorts(dir, httpPort, udpPort) {
  const iniPath = path.join(dir, 'kavel.ini');
  // The lines changed are ASCII; latin1 keeps every other byte as it is.
  const ini = fs.readFileSync(iniPath).toString('latin1');
  if (!/^QUOR_Port=/m.test(ini) || !/^UDPMessage,Port=/m.test(ini)) {
    throw new Error('sample kavel.ini lacks its QUOR_Port or UDPMessage line');
  }
  const changed = ini
    .replace(/^QUOR_Port=[^\r\n]*/m, `QUOR_Port=${httpPort}`)
    .replace(/^UDPMessage,Port=[^\r\n]*/m, `UDPMessage,Port=${udpPort}`);
  fs.writeFileSync(iniPath, Buffer.from(changed, 'latin1'));
}

// The lines of a person file, as the server reads them.
function fileLines(bytes) {
  const zero = bytes.indexOf(0);
  const text = zero < 0 ? bytes : bytes.subarray(0, zero);
  const lines = [];
  let start = 0;
  for (let i = 0; i <= text.length; i++) {
    if (i === text.length || text[i] === 0x0d || text[i] === 0x0a) {
      if (i === text.length && start === i) break;
      lines.push(text.subarray(start, i));
      if (text[i] === 0x0d && text[i + 1] === 0x0a) i++;
      start = i + 1;
    }
  }
  return lines;
}

const CRLF = Buffer.from('\r\n');
const FIELDS = ['furigana', 'name', 'group', 'memo', 'reason', 'date', 'time', 'tel', 'ip', 'icon'];

// One person file into raw byte fields, with decoded text beside them.
function readPerson(file) {
  const raw = {};
  for (const f of FIELDS) raw[f] = Buffer.alloc(0);
  let v = 0;
  let open = false;
  for (let line of fileLines(fs.readFileSync(file))) {
    if (!open && line.length && line[0] === 0x22) {
      line = line.subarray(1);
      open = true;
    }
    if (open && line.length && line[line.length - 1] === 0x22) {
      line = line.subarray(0, line.length - 1);
      open = false;
    }
    const f = FIELDS[v];
    if (f === 'reason') raw.reason = Buffer.concat([raw.reason, line, CRLF]);
    else if (f) raw[f] = Buffer.concat([raw[f], line]);
    if (!open) v++;
  }
  const key = path.basename(file, '.kvl');
  const text = {};
  for (const f of FIELDS) text[f] = sjis.decode(raw[f]);
  const icon = /^-?\d+$/.test(text.icon) ? parseInt(text.icon, 10) : 0;
  const off = fs.existsSync(path.join(path.dirname(file), key + '.off'));
  return { key, file, raw, ...text, icon, off };
}

// Saves a person file as a presence client does: every field quoted on a
// line of its own, Shift-JIS, CR LF. `change` holds texts by field name;
// the other fields keep their bytes (lines after the mark are left out).
function writePerson(person, change) {
  const field = (f) => {
    if (f in change) return sjis.encode(String(change[f]).replace(/\r?\n/g, '\r\n'));
    return f === 'reason' ? person.raw.reason.subarray(0, Math.max(0, person.raw.reason.length - 2)) : person.raw[f];
  };
  const q = Buffer.from('"');
  fs.writeFileSync(person.file, Buffer.concat(FIELDS.flatMap((f) => [q, field(f), q, CRLF])));
  return readPerson(person.file);
}

function readPersons(dir) {
  return fs
    .readdirSync(dir)
    .filter((n) => n.endsWith('.kvl'))
    .sort()
    .map((n) => readPerson(path.join(dir, n)));
}

// Board order: readings compared byte by byte, a to z folded to upper case.
function boardOrder(persons) {
  const fold = (b) => Buffer.from(b.map((c) => (c >= 0x61 && c <= 0x7a ? c - 32 : c)));
  return [...persons].sort((a, b) => Buffer.compare(fold(a.raw.furigana), fold(b.raw.furigana)));
}

const ROWS = { a: [0xb1, 0xb5], k: [0xb6, 0xba], s: [0xbb, 0xbf], t: [0xc0, 0xc4], n: [0xc5, 0xc9],
  h: [0xca, 0xce], m: [0xcf, 0xd3], y: [0xd4, 0xd6], r: [0xd7, 0xdb], w: [0xdc, 0xdd] };

function kanaRow(person) {
  const b = person.raw.furigana[0];
  for (const [letter, [lo, hi]] of Object.entries(ROWS)) if (b >= lo && b <= hi) return letter;
  return '';
}

// Groups as the control bar lists them: sorted by their Shift-JIS bytes.
function groups(persons) {
  const byText = new Map();
  for (const p of persons) byText.set(p.group, p.raw.group);
  return [...byText.values()].sort(Buffer.compare).map((b) => sjis.decode(b));
}

const RS = { unparsable: -1, powerOff: 0, present: 1, overdue: 2, today: 3, tomorrow: 4, dayAfter: 5, later: 6 };

function parseMoment(date, time) {
  const d = /^(\d{4})\/(\d{1,2})\/(\d{1,2})$/.exec(date);
  if (!d) return null;
  const day = new Date(+d[1], +d[2] - 1, +d[3]);
  const t = /^(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?$/.exec(time || '23:59:59');
  if (!t) return { day, at: day };
  return { day, at: new Date(+d[1], +d[2] - 1, +d[3], +t[1], +t[2], +(t[3] || 0)) };
}

function startOfDay(d, plus = 0) {
  return new Date(d.getFullYear(), d.getMonth(), d.getDate() + plus);
}

function returnState(p, now) {
  if (p.date === '') return p.off ? RS.powerOff : RS.present;
  const m = parseMoment(p.date, p.time);
  if (!m) return RS.unparsable;
  if (m.at < now) return RS.overdue;
  for (let k = 0; k < 3; k++) {
    if (m.at >= startOfDay(now, k) && m.at < startOfDay(now, k + 1)) return RS.today + k;
  }
  return RS.later;
}

const WEEKDAYS = '日月火水木金土';

function returnText(p, now) {
  const s = returnState(p, now);
  let day = '';
  if (s === RS.today) day = '本日';
  else if (s === RS.tomorrow) day = '明日';
  else if (s === RS.dayAfter) day = '明後日';
  else if (s === RS.overdue || s === RS.later) {
    const d = parseMoment(p.date, p.time).day;
    day = `${d.getMonth() + 1}/${d.getDate()}(${WEEKDAYS[d.getDay()]})`;
  } else if (s === RS.unparsable) day = p.date;
  return `${day} ${p.time}`;
}

function nameColour(p, now) {
  const s = returnState(p, now);
  if (s === RS.powerOff) return 'gray';
  if (s === RS.present) return 'black';
  if (s === RS.today) return 'olive';
  return 'red';
}

function statusImage(p, now) {
  const s = returnState(p, now);
  if (s === RS.powerOff) return 'poweroff.jpg';
  if (s === RS.present) return 'poweron.jpg';
  if (s === RS.overdue) return 'unknown.jpg';
  const red = s > RS.today || s === RS.unparsable;
  const custom = p.icon - 1;
  if (p.icon >= 1 && custom < CUSTOM_MARKS.length) return `${custom}${red ? 'r' : 'y'}.jpg`;
  return red ? 'huzaired.jpg' : 'huzaiyellow.jpg';
}

// Text shows in the DOM with CR LF turned into LF by the HTML parser.
const domText = (s) => s.replace(/\r\n?/g, '\n');

// What one board cell group shows: the destination and return lines as
// text (each closed by an ideographic blank), the colour and the image.
function boardCell(p, now) {
  const s = returnState(p, now);
  const dest = sjis.decode(sjis.head(s === RS.present ? p.raw.memo : p.raw.reason, 14));
  return {
    key: p.key,
    name: p.name,
    colour: nameColour(p, now),
    image: statusImage(p, now),
    destination: domText(dest + '　'),
    returns: domText(returnText(p, now) + '　'),
  };
}

// The cell as it would be built at any moment from one to the other, or
// null when the answer changes in between (a return time passing).
function stableBoardCell(p, from, to) {
  const a = boardCell(p, from);
  const b = boardCell(p, to);
  return JSON.stringify(a) === JSON.stringify(b) ? a : null;
}

// The person file's path as the person-data datagram names it.
function datagramPath(p) {
  const bytes = Buffer.from(p.file.slice(0, -'.kvl'.length), 'utf8');
  return Buffer.from(bytes.map((c) => (c >= 0x61 && c <= 0x7a ? c - 32 : c)));
}

function tempRoot(tag) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `quorwell-e2e-${tag}-`));
}

module.exports = {
  REPO, MARK_CAPTIONS, RS, makeOffice, setPorts, readPerson, writePerson, readPersons, boardOrder, kanaRow, groups,
  returnState, boardCell, stableBoardCell, domText, datagramPath, tempRoot, localDateText,
};
