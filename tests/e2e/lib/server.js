'use strict';
// Runs build/quorwell in the foreground on a private home and office, and
// stops it by its PID.

const fs = require('fs');
const net = require('net');
const path = require('path');
const { spawn } = require('child_process');

function freeTcpPort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const c = net.connect({ host: '127.0.0.1', port });
    c.once('connect', () => {
      c.destroy();
      resolve(true);
    });
    c.once('error', () => resolve(false));
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

class Server {
  constructor(executable, home, port) {
    this.executable = executable;
    this.home = home;
    this.port = port;
    this.exited = null;
    this.output = path.join(home, 'console.txt');
  }

  get base() {
    return `http://127.0.0.1:${this.port}/`;
  }

  // The last lines of the server's log and console, for a failure report.
  logText(lines = 30) {
    const read = (f) => {
      if (!fs.existsSync(f)) return '';
      const all = new TextDecoder('shift_jis').decode(fs.readFileSync(f)).split(/\r?\n/);
      return all.slice(-lines).join('\n');
    };
    return `--- QUOR.LOG (end)\n${read(path.join(this.home, 'QUOR.LOG'))}\n--- console (end)\n${read(this.output)}`;
  }

  // Writes quor.ini naming the office, starts the server and waits for its
  // port. The deadline only bounds a server that never comes up.
  async start(officeDir) {
    fs.writeFileSync(path.join(this.home, 'quor.ini'), `QUOR_CommonDirectory=${officeDir}/\r\n`);
    const out = fs.openSync(this.output, 'w');
    this.child = spawn(this.executable, [], {
      env: { ...process.env, QUORWELL_HOME: this.home },
      stdio: ['ignore', out, out],
    });
    fs.closeSync(out);
    this.exitedPromise = new Promise((resolve) => {
      this.child.once('exit', (code, signal) => {
        this.exited = { code, signal };
        resolve(this.exited);
      });
      this.child.once('error', (e) => {
        this.exited = { code: null, signal: null, error: e };
        resolve(this.exited);
      });
    });
    const deadline = Date.now() + 15000;
    while (Date.now() < deadline) {
      if (this.exited) break;
      if (await canConnect(this.port)) return;
      await sleep(50);
    }
    const why = this.exited ? `exited (${JSON.stringify(this.exited)})` : 'did not open its port';
    await this.stop();
    throw new Error(`quorwell ${why}\n${this.logText()}`);
  }

  // SIGTERM to our own child; SIGKILL only if it hangs past its stop.
  async stop() {
    if (!this.child || this.exited) return this.exited;
    this.child.kill('SIGTERM');
    const timer = setTimeout(() => {
      if (!this.exited) this.child.kill('SIGKILL');
    }, 15000);
    const result = await this.exitedPromise;
    clearTimeout(timer);
    return result;
  }
}

module.exports = { Server, freeTcpPort };
