'use strict';
// Shift-JIS both ways. Node decodes it; the encoder is the decoder's table
// turned round, which is all the journeys need to compare the bytes the
// server stores and sends with what a user typed.

const decoder = new TextDecoder('shift_jis');

function decode(bytes) {
  return decoder.decode(bytes);
}

let table = null;

function encoderTable() {
  if (table) return table;
  table = new Map();
  const pair = Buffer.alloc(2);
  for (let lead = 0x81; lead <= 0xfc; lead++) {
    if (lead > 0x9f && lead < 0xe0) continue;
    for (let trail = 0x40; trail <= 0xfc; trail++) {
      if (trail === 0x7f) continue;
      pair[0] = lead;
      pair[1] = trail;
      const ch = decoder.decode(pair);
      // The first code of a character wins, as a Windows encoder picks it.
      if (ch.length === 1 && ch !== '\ufffd' && !table.has(ch)) table.set(ch, [lead, trail]);
    }
  }
  for (let b = 0xa1; b <= 0xdf; b++) table.set(String.fromCharCode(0xff61 + b - 0xa1), [b]);
  return table;
}

function encode(text) {
  const out = [];
  for (const ch of text) {
    const code = ch.codePointAt(0);
    if (code < 0x80) {
      out.push(code);
      continue;
    }
    const bytes = encoderTable().get(ch);
    if (!bytes) throw new Error(`no Shift-JIS code for ${JSON.stringify(ch)}`);
    out.push(...bytes);
  }
  return Buffer.from(out);
}

function isLeadByte(b) {
  return (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc);
}

// The characters that begin within the first n bytes, a double-byte
// character taken whole (the board's cut of a memo or a reason).
function head(bytes, n) {
  let i = 0;
  while (i < bytes.length && i < n) i += isLeadByte(bytes[i]) ? 2 : 1;
  return bytes.subarray(0, Math.min(i, bytes.length));
}

// Percent-decoding to bytes, '+' as a blank, as a form query arrives.
function percentDecode(text) {
  const out = [];
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (c === '+') out.push(0x20);
    else if (c === '%' && /^[0-9a-fA-F]{2}$/.test(text.substr(i + 1, 2))) {
      out.push(parseInt(text.substr(i + 1, 2), 16));
      i += 2;
    } else out.push(...Buffer.from(c, 'latin1'));
  }
  return Buffer.from(out);
}

// The raw bytes of one query field, or null when the query lacks it.
function queryField(url, name) {
  const q = url.indexOf('?');
  if (q < 0) return null;
  for (const part of url.slice(q + 1).split('&')) {
    const eq = part.indexOf('=');
    const key = eq < 0 ? part : part.slice(0, eq);
    if (key.toLowerCase() === name.toLowerCase()) return percentDecode(eq < 0 ? '' : part.slice(eq + 1));
  }
  return null;
}

module.exports = { decode, encode, head, percentDecode, queryField };
