'use strict';
// Failures that say where, what was expected and what came.

class Skip extends Error {}

const show = (v) => (Buffer.isBuffer(v) ? `<${v.toString('hex')}>` : JSON.stringify(v));

function equal(got, want, what) {
  const same = Buffer.isBuffer(want) ? Buffer.isBuffer(got) && got.equals(want) : show(got) === show(want);
  if (!same) throw new Error(`${what}: expected ${show(want)}, got ${show(got)}`);
}

function ok(cond, what, got) {
  if (!cond) throw new Error(got === undefined ? what : `${what}; got ${show(got)}`);
}

module.exports = { Skip, equal, ok, show };
