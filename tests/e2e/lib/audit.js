'use strict';
// axe-core in a journey's own page, and Lighthouse on a Chromium of its own
// (Lighthouse drives the browser itself over its debugging port).

const fs = require('fs');
const path = require('path');
const { CHROMIUM, FLAGS } = require('./browser');
const { Skip } = require('./expect');

const BLOCKING = ['serious', 'critical'];

function requireTools() {
  for (const p of ['@axe-core/playwright', 'lighthouse', 'chrome-launcher']) {
    if (!fs.existsSync(path.join(__dirname, '..', 'node_modules', p))) {
      throw new Skip(`needs npm package ${p} (run scripts/bootstrap-e2e)`);
    }
  }
}

// axe on what the page shows now. Returns every violation as
// "impact rule (n nodes): first target", the blocking ones apart.
async function axe(page) {
  const { AxeBuilder } = require('@axe-core/playwright');
  const result = await new AxeBuilder({ page }).analyze();
  const line = (v) => `${v.impact} ${v.id} (${v.nodes.length}): ${v.nodes[0] && v.nodes[0].target.join(' ')}`;
  return {
    passes: result.passes.length,
    blocking: result.violations.filter((v) => BLOCKING.includes(v.impact)).map(line),
    other: result.violations.filter((v) => !BLOCKING.includes(v.impact)).map(line),
  };
}

// One Lighthouse run with its phone profile and no throttling: the scores
// out of 100, the first contentful paint in ms and the audits that lost
// points in the two categories that count.
async function lighthouse(url, profileDir) {
  const { default: run } = await import('lighthouse');
  const launcher = await import('chrome-launcher');
  fs.mkdirSync(profileDir, { recursive: true });
  // The journeys' Chromium, also for anything in Lighthouse that looks for one itself.
  process.env.CHROME_PATH = CHROMIUM;
  const chrome = await launcher.launch({
    chromePath: CHROMIUM,
    chromeFlags: ['--headless', ...FLAGS],
    userDataDir: profileDir,
    logLevel: 'silent',
  });
  try {
    const result = await run(url, { port: chrome.port, logLevel: 'error', output: 'json' }, {
      extends: 'lighthouse:default',
      settings: {
        onlyCategories: ['accessibility', 'best-practices', 'performance'],
        throttlingMethod: 'provided',
        throttling: { rttMs: 0, throughputKbps: 0, cpuSlowdownMultiplier: 1,
          requestLatencyMs: 0, downloadThroughputKbps: 0, uploadThroughputKbps: 0 },
      },
    });
    const lhr = result.lhr;
    if (lhr.runtimeError) throw new Error(`lighthouse ${url}: ${lhr.runtimeError.code} ${lhr.runtimeError.message}`);
    const score = (c) => Math.round(lhr.categories[c].score * 100);
    const lost = [];
    for (const c of ['accessibility', 'best-practices']) {
      for (const ref of lhr.categories[c].auditRefs) {
        const a = lhr.audits[ref.id];
        if (ref.weight > 0 && a.score !== null && a.score < 1) lost.push(`${c}: ${a.id} (${a.title})`);
      }
    }
    return {
      accessibility: score('accessibility'),
      bestPractices: score('best-practices'),
      performance: score('performance'),
      firstPaintMs: Math.round(lhr.audits['first-contentful-paint'].numericValue),
      lost,
    };
  } finally {
    await chrome.kill();
  }
}

module.exports = { requireTools, axe, lighthouse };
