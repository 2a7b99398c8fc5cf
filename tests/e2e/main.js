'use strict';
// Runs browser journeys through a live Quorwell: each journey gets its own
// copy of the sample office, its own server on a free port, stand-in
// presence clients on a free UDP port and a fresh Chromium profile.
//
//   node main.js --quorwell build/quorwell --out build/e2e [journey ...]

const fs = require('fs');
const http = require('http');
const path = require('path');
const office = require('./lib/office');
const browser = require('./lib/browser');
const { Server, freeTcpPort } = require('./lib/server');
const { ClientListeners } = require('./lib/udp');
const { Skip } = require('./lib/expect');

const JOURNEYS = ['board', 'filters', 'person_window', 'message', 'absence',
  'views_board', 'views_person', 'views_client', 'quality'];

function parseArgs(argv) {
  const opts = { quorwell: path.join(office.REPO, 'build', 'quorwell'), out: null, names: [] };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--quorwell') opts.quorwell = path.resolve(argv[++i]);
    else if (argv[i] === '--out') opts.out = path.resolve(argv[++i]);
    else opts.names.push(argv[i]);
  }
  opts.out = opts.out || path.join(path.dirname(opts.quorwell), 'e2e');
  if (!opts.names.length) opts.names = JOURNEYS;
  for (const n of opts.names) if (!JOURNEYS.includes(n)) throw new Error(`no journey named ${n}`);
  return opts;
}

function get(url) {
  return new Promise((resolve, reject) => {
    http.get(url, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    }).on('error', reject);
  });
}

// A page that still answers with its placeholder error makes the journey
// a skip, not a failure.
async function requireBuilt(base, pages) {
  for (const p of pages) {
    const res = await get(base + p);
    if (res.status === 500 && /not built/i.test(res.body.toString('latin1'))) {
      throw new Skip(`/${p.split('?')[0]} is not built yet (500 "${res.body.toString('latin1').trim()}")`);
    }
  }
}

async function runJourney(name, opts, stopping) {
  const journey = require(`./journeys/${name}`);
  const root = office.tempRoot(name);
  const home = path.join(root, 'home');
  fs.mkdirSync(home);
  const dir = office.makeOffice(root);
  const addresses = [...new Set(office.readPersons(dir).map((p) => p.ip))];
  const clients = await ClientListeners.open(addresses);
  const server = new Server(opts.quorwell, home, await freeTcpPort());
  let context = null;
  const more = [];
  let passed = false;
  try {
    office.setPorts(dir, server.port, clients.port);
    await server.start(dir);
    context = await browser.launch(path.join(root, 'profile'));
    const ctx = {
      base: server.base,
      dir,
      persons: () => office.boardOrder(office.readPersons(dir)),
      clients,
      server,
      context,
      get,
      requireBuilt: (pages) => requireBuilt(server.base, pages),
      shot: browser.screenshots(opts.out, name),
      out: opts.out,
      root,
      // Another browser with a profile of its own: a phone, a desk, a wall.
      open: async (device) => {
        const c = await browser.launch(path.join(root, `profile-${more.length + 1}`), device);
        more.push(c);
        return c;
      },
    };
    await journey.run(ctx);
    passed = true;
  } catch (e) {
    if (!(e instanceof Skip)) e.message += `\n  (server files kept in ${root})\n${server.logText()}`;
    throw e;
  } finally {
    for (const c of [context, ...more]) if (c) await c.close().catch(() => {});
    clients.close();
    // The server takes its few seconds to stop; let it while the next
    // journey runs.
    stopping.push(server.stop().then(() => {
      if (passed) fs.rmSync(root, { recursive: true, force: true });
    }));
  }
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!fs.existsSync(opts.quorwell)) throw new Error(`no server at ${opts.quorwell}: build it first`);
  const counts = { passed: 0, failed: 0, skipped: 0 };
  const stopping = [];
  for (const name of opts.names) {
    const started = Date.now();
    try {
      await runJourney(name, opts, stopping);
      counts.passed++;
      console.log(`PASS ${name} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
    } catch (e) {
      if (e instanceof Skip) {
        counts.skipped++;
        console.log(`SKIP ${name}: ${e.message}`);
      } else {
        counts.failed++;
        console.log(`FAIL ${name}: ${e.stack || e}`);
      }
    }
  }
  await Promise.all(stopping);
  console.log(`screenshots in ${opts.out}`);
  console.log(`e2e: ${counts.passed} passed, ${counts.failed} failed, ${counts.skipped} skipped`);
  if (counts.failed) return 1;
  return counts.passed ? 0 : 77;
}

main().then((code) => process.exit(code), (e) => {
  console.error(e.stack || e);
  process.exit(1);
});
