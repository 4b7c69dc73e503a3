// The board's bytes and the browser's text, under the board's character
// set: under cp437 each byte of 0x80 and above is its CP437 glyph, under
// utf-8 the bytes are UTF-8 as they are. Keys go back the same way.

// The glyphs of 0x80 to 0xFF, in order.
const HIGH =
  'ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐' +
  '└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0';

const BYTE_OF = new Map([...HIGH].map((glyph, i) => [glyph, 0x80 + i]));

// The board's BYTES (a Uint8Array) as text for the terminal.
export function cp437ToText(bytes) {
  let text = '';
  for (const b of bytes) text += b < 0x80 ? String.fromCharCode(b) : HIGH[b - 0x80];
  return text;
}

// The caller's TEXT as CP437 bytes; a character with no CP437 byte is '?'.
export function textToCp437(text) {
  const out = [];
  for (const ch of text) {
    const code = ch.codePointAt(0);
    out.push(code < 0x80 ? code : (BYTE_OF.get(ch) ?? 0x3f));
  }
  return Uint8Array.from(out);
}

// A converter pair for the board's set ("cp437" or "utf-8").
export function converters(charset) {
  if (charset === 'cp437') return { fromBoard: cp437ToText, toBoard: textToCp437 };
  const encoder = new TextEncoder();
  return { fromBoard: (bytes) => bytes, toBoard: (text) => encoder.encode(text) };
}
