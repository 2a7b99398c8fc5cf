'use strict';
// Stands in for the presence clients: one UDP socket per client address of
// the office, all on one port, keeping every datagram with the address it
// was sent to.

const dgram = require('dgram');

function bindOn(address, port) {
  return new Promise((resolve, reject) => {
    const socket = dgram.createSocket({ type: 'udp4', reuseAddr: false });
    socket.once('error', reject);
    socket.bind({ address, port, exclusive: true }, () => {
      socket.removeListener('error', reject);
      resolve(socket);
    });
  });
}

class ClientListeners {
  constructor() {
    this.sockets = [];
    this.received = [];
    this.waiters = [];
    this.port = 0;
  }

  // Binds every address on one free port (the first socket picks it).
  static async open(addresses) {
    for (let attempt = 0; attempt < 10; attempt++) {
      const l = new ClientListeners();
      try {
        const first = await bindOn(addresses[0], 0);
        l.sockets.push(first);
        l.port = first.address().port;
        for (const a of addresses.slice(1)) l.sockets.push(await bindOn(a, l.port));
        for (const s of l.sockets) {
          const to = s.address().address;
          s.on('message', (data, rinfo) => l.record({ to, from: rinfo.address, data }));
        }
        return l;
      } catch (e) {
        l.close();
        if (e.code !== 'EADDRINUSE') throw e;
      }
    }
    throw new Error('no UDP port free on every client address');
  }

  record(datagram) {
    this.received.push(datagram);
    for (const w of [...this.waiters]) w();
  }

  // Takes and forgets what has arrived so far.
  take() {
    const got = this.received;
    this.received = [];
    return got;
  }

  // Waits until test(received) holds or the deadline passes; returns whether
  // it held. The deadline only bounds a failing wait.
  waitFor(test, ms = 5000) {
    if (test(this.received)) return Promise.resolve(true);
    return new Promise((resolve) => {
      const done = (ok) => {
        clearTimeout(timer);
        this.waiters = this.waiters.filter((w) => w !== check);
        resolve(ok);
      };
      const check = () => test(this.received) && done(true);
      const timer = setTimeout(() => done(test(this.received)), ms);
      this.waiters.push(check);
    });
  }

  close() {
    for (const s of this.sockets) {
      try {
        s.close();
      } catch {
        // already closed
      }
    }
    this.sockets = [];
  }
}

// A datagram's keys and values: each key is 0x01 and a name, its value runs
// to the next 0x01. Keys are taken from the known list so that a value that
// starts with letters is not mistaken for part of its key.
const KEYS = ['Kvl3_Msg', 'Kvl3_Dat', 'Kvl3_Date', 'Kvl3_Time', 'Kvl3_Icon', 'Kvl3_Locate', 'Kvl3_Eod'];

function parseDatagram(data) {
  const out = [];
  const pieces = [];
  let start = data.indexOf(1);
  if (start !== 0) return null;
  while (start >= 0) {
    const next = data.indexOf(1, start + 1);
    pieces.push(data.subarray(start + 1, next < 0 ? data.length : next));
    start = next;
  }
  for (const piece of pieces) {
    const name = KEYS.filter((k) => piece.subarray(0, k.length).toString('latin1') === k)
      .sort((a, b) => b.length - a.length)[0];
    if (!name) return null;
    out.push([name, piece.subarray(name.length)]);
  }
  return out;
}

function messageNotice(key) {
  return Buffer.concat([Buffer.from('\x01Kvl3_Msg', 'latin1'), Buffer.from(key), Buffer.from('\x01Kvl3_Eod', 'latin1')]);
}

function personData({ path, date, time, icon, reason }) {
  const k = (name) => Buffer.from('\x01' + name, 'latin1');
  return Buffer.concat([k('Kvl3_Dat'), path, k('Kvl3_Date'), date, k('Kvl3_Time'), time,
    k('Kvl3_Icon'), Buffer.from(String(icon)), k('Kvl3_Locate'), reason, k('Kvl3_Eod')]);
}

module.exports = { ClientListeners, parseDatagram, messageNotice, personData };
