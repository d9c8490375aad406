// Bytes. indexed_docs.js is loaded as windows-1252, which maps every byte to its own
// character, so a location keeps the exact bytes of the file name (Linux names need
// not be UTF-8). When a server forces another charset, the text is taken as Unicode.
define('bytes', [], function () {

var CP1252_HIGH = '\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d\u017d\u008f' +
  '\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u009d\u017e\u0178';
var CP1252_BYTE = {};
for (var b = 0; b < 32; b++) CP1252_BYTE[CP1252_HIGH.charAt(b)] = 0x80 + b;
var NOT_CP1252 = new RegExp('[^\\u0000-\\u00ff' + CP1252_HIGH + ']');

function utf8Bytes(text) {
  return new TextEncoder().encode(text);
}

// Whether indexed_docs.js was read as windows-1252, as the page asks: every title and
// location holds only its characters. (A server may force another charset.)
function readAsBytes(docs) {
  for (var d = 0; d < docs.length; d++) {
    if (NOT_CP1252.test(docs[d][1]) || NOT_CP1252.test(docs[d][2])) return false;
  }
  return true;
}

// The bytes behind a string read from indexed_docs.js.
function textBytes(text, bytesMode) {
  if (!bytesMode) return utf8Bytes(text);
  var out = new Uint8Array(text.length);
  for (var i = 0; i < text.length; i++) {
    var c = text.charCodeAt(i);
    out[i] = c <= 0xff ? c : (CP1252_BYTE[text.charAt(i)] || 0x3f);
  }
  return out;
}

// Text for people: the bytes as UTF-8 when they are valid UTF-8, else as read.
function displayText(text, bytesMode) {
  if (!bytesMode || !/[^\x00-\x7f]/.test(text)) return text;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(textBytes(text, true));
  } catch (e) {
    return text;
  }
}

var ENTITIES = {
  AMP: '&', LT: '<', GT: '>', QUOT: '"', APOS: "'", NBSP: '\u00a0', COPY: '\u00a9', REG: '\u00ae',
  TRADE: '\u2122', HELLIP: '\u2026', MDASH: '\u2014', NDASH: '\u2013', LSQUO: '\u2018',
  RSQUO: '\u2019', LDQUO: '\u201c', RDQUO: '\u201d', LAQUO: '\u00ab', RAQUO: '\u00bb',
  MIDDOT: '\u00b7', BULL: '\u2022', SZLIG: 'SS', TIMES: '\u00d7', DEG: '\u00b0'
};
var ACCENTS = { ACUTE: '\u0301', GRAVE: '\u0300', CIRC: '\u0302', UML: '\u0308', TILDE: '\u0303',
  RING: '\u030a', CEDIL: '\u0327', CARON: '\u030c' };

// Titles keep the character entities of the page, upper-cased (&AMP;): decode the
// common ones for display.
function decodeEntities(text) {
  return text.replace(/&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[A-Za-z]{2,8});/g, function (all, name) {
    if (name.charAt(0) === '#') {
      var code = name.charAt(1) === 'x' || name.charAt(1) === 'X' ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
      return code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff) ? String.fromCodePoint(code) : all;
    }
    var key = name.toUpperCase();
    if (ENTITIES.hasOwnProperty(key)) return ENTITIES[key];
    var accent = /^([A-Z])(ACUTE|GRAVE|CIRC|UML|TILDE|RING|CEDIL|CARON)$/.exec(key);
    return accent ? (accent[1] + ACCENTS[accent[2]]).normalize('NFC') : all;
  });
}

return { readAsBytes: readAsBytes, textBytes: textBytes, displayText: displayText, decodeEntities: decodeEntities };
});
