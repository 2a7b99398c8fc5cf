'use strict';
// The views anyone can use: axe finds nothing serious or critical on the
// board and a person page at phone and desk size nor on the wall; Lighthouse
// with its phone profile and no throttling scores the phone board and the
// person page at least 95 for accessibility and for best practices. The
// scores and the first paint are printed and kept in quality.json.

const fs = require('fs');
const path = require('path');
const audit = require('../lib/audit');
const { PHONE, DESK, WALL } = require('../lib/browser');
const { Skip, ok } = require('../lib/expect');

const MIN_SCORE = 95;

async function run(ctx) {
  audit.requireTools();
  const someone = ctx.persons().find((p) => p.key === 'yamada') || ctx.persons()[0];
  const views = { board: 'm/', person: `m/p/${encodeURIComponent(someone.key)}`, wall: 'm/wall' };
  const answers = await Promise.all(Object.values(views).map((v) => ctx.get(ctx.base + v)));
  if (answers.every((a) => a.status === 501 || a.status === 404)) throw new Skip('the views under /m/ are not built');

  const report = { axe: {}, lighthouse: {} };
  const blocking = [];
  const runs = [['phone', PHONE, ['board', 'person']], ['desk', DESK, ['board', 'person']], ['wall', WALL, ['wall']]];
  for (const [device, settings, names] of runs) {
    const context = await ctx.open(settings);
    const page = context.pages()[0] || (await context.newPage());
    for (const name of names) {
      await page.goto(ctx.base + views[name]);
      await page.waitForLoadState('load');
      const found = await audit.axe(page);
      report.axe[`${name} ${device}`] = found;
      console.log(`  axe ${name} (${device}): ${found.passes} rules passed, ` +
        `${found.blocking.length} serious or critical, ${found.other.length} lesser`);
      for (const v of found.other) console.log(`    ${v}`);
      for (const v of found.blocking) blocking.push(`${name} (${device}): ${v}`);
    }
    await context.close();
  }

  const low = [];
  for (const name of ['board', 'person']) {
    const r = await audit.lighthouse(ctx.base + views[name], path.join(ctx.root, `lighthouse-${name}`));
    report.lighthouse[name] = r;
    console.log(`  lighthouse ${name} (phone, no throttling): accessibility ${r.accessibility}, ` +
      `best practices ${r.bestPractices}, performance ${r.performance}, first paint ${r.firstPaintMs} ms`);
    for (const l of r.lost) console.log(`    lost: ${l}`);
    if (r.accessibility < MIN_SCORE) low.push(`${name}: accessibility ${r.accessibility}`);
    if (r.bestPractices < MIN_SCORE) low.push(`${name}: best practices ${r.bestPractices}`);
  }
  fs.writeFileSync(path.join(ctx.out, 'quality.json'), JSON.stringify(report, null, 2));

  ok(!blocking.length, `axe: serious or critical violations:\n  ${blocking.join('\n  ')}`);
  ok(!low.length, `lighthouse: below ${MIN_SCORE}: ${low.join(', ')}`);
}

module.exports = { run };
