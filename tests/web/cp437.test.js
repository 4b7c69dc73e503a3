// The page's character-set conversion, both ways, row by row.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { cp437ToText, textToCp437, converters } from '../../web/cp437.js';

test('each CP437 byte is its glyph', () => {
  const rows = [
    [[0x41, 0x0d, 0x0a], 'A\r\n'],
    [[0x80], 'Ç'], [[0x81], 'ü'], [[0x9b], '¢'], [[0x9e], '₧'],
    [[0xb0, 0xb1, 0xb2, 0xdb], '░▒▓█'], [[0xc9, 0xcd, 0xbb], '╔═╗'],
    [[0xe1], 'ß'], [[0xe6], 'µ'], [[0xf8], '°'], [[0xfe], '■'], [[0xff], '\u00a0'],
  ];
  for (const [bytes, text] of rows) assert.equal(cp437ToText(Uint8Array.from(bytes)), text);
});

test('every byte comes back as itself', () => {
  const all = Uint8Array.from({ length: 256 }, (_, i) => i);
  assert.deepEqual(textToCp437(cp437ToText(all)), all);
  assert.equal([...cp437ToText(all.slice(0x80))].length, 128);
});

test('keys go back as CP437, what it lacks as ?', () => {
  const rows = [
    ['Ça', [0x80, 0x61]], ['é', [0x82]], ['€', [0x3f]], ['日本', [0x3f, 0x3f]],
    ['😀', [0x3f]], ['\x1b[A', [0x1b, 0x5b, 0x41]],
  ];
  for (const [text, bytes] of rows) assert.deepEqual([...textToCp437(text)], bytes, text);
});

test('under utf-8 the bytes pass as they are', () => {
  const { fromBoard, toBoard } = converters('utf-8');
  const bytes = Uint8Array.from([0xc3, 0xa9, 0x41]);
  assert.equal(fromBoard(bytes), bytes);
  assert.deepEqual([...toBoard('éA')], [0xc3, 0xa9, 0x41]);
  assert.deepEqual([...converters('cp437').toBoard('éA')], [0x82, 0x41]);
});
