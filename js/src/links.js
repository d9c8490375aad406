// Links. Locations are relative paths, full paths or URL-prefixed paths.
define('links', ['bytes'], function (bytes) {

var textBytes = bytes.textBytes;

var SCHEME = /^[A-Za-z][A-Za-z0-9+.\-]*:\/\//;
var HEX = '0123456789ABCDEF';

function percent(byte) {
  return '%' + HEX.charAt(byte >> 4) + HEX.charAt(byte & 15);
}

// Percent-escapes the bytes of text: in a path every byte but letters, digits,
// "-._~/"; in a URL only those that can never stand in one.
function escapeBytes(text, bytesMode, path) {
  var bytes = textBytes(text, bytesMode), out = '';
  for (var i = 0; i < bytes.length; i++) {
    var c = bytes[i], plain = path
      ? (c >= 48 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 45 || c === 46 || c === 95 || c === 126 || c === 47
      : c > 0x20 && c < 0x7f && '"<>\\^`{|}'.indexOf(String.fromCharCode(c)) < 0;
    out += plain ? String.fromCharCode(c) : percent(c);
  }
  return out;
}

// The href of a location, resolved against base (the search page's address).
// A path is taken byte by byte, so blanks, #, ?, %, quotes and any other byte of a
// file name reach the right file. A location that starts with a URL scheme is used as
// it stands, but for bytes that can never appear in a URL; when kept is given, only
// its first kept characters (the URL prefix that all such locations share) stand as
// they are and the rest is a path. A relative location is taken from siteBase (the
// way from the search page to the indexed folder, checked by siteBaseOf) when given.
function locationHref(location, base, bytesMode, kept, siteBase) {
  if (SCHEME.test(location)) {
    var cut = kept === undefined ? location.length : Math.min(kept, location.length);
    return escapeBytes(location.slice(0, cut), bytesMode, false) + escapeBytes(location.slice(cut), bytesMode, true);
  }
  // "//x" would name a host; on disk it is the same file as "/x".
  var out = escapeBytes(location, bytesMode, true).replace(/^\/{2,}/, '/');
  if (siteBase && out.charAt(0) !== '/') out = siteBase + out;
  if (base === undefined) return out;
  try {
    return new URL(out, base).href;
  } catch (e) {
    return out;
  }
}

// The length of the URL prefix shared by the locations that start with a URL scheme,
// up to its last "/" (so the file and folder names after it are paths); undefined
// when no location has a scheme.
function sharedUrlPrefix(docs) {
  var shared = null;
  for (var d = 0; d < docs.length; d++) {
    var location = String(docs[d][2]);
    if (!SCHEME.test(location)) continue;
    if (shared === null) { shared = location; continue; }
    var n = 0, max = Math.min(shared.length, location.length);
    while (n < max && shared.charCodeAt(n) === location.charCodeAt(n)) n++;
    shared = shared.slice(0, n);
  }
  if (shared === null) return undefined;
  var start = SCHEME.exec(shared);
  return start ? Math.max(start[0].length, shared.lastIndexOf('/') + 1) : undefined;
}

// A relative URL path to a folder: percent-encoded names, each ending in "/" ("" for
// the search page's own folder). Nothing else can be the base of relative locations:
// no scheme, no host, no query.
var SITE_BASE = /^(?:(?:[A-Za-z0-9\-._~]|%[0-9A-Fa-f]{2})+\/)*$/;
function siteBaseOf(base) {
  return typeof base === 'string' && SITE_BASE.test(base) ? base : '';
}

// "#" and an anchor of a page, its UTF-8 bytes escaped as in a path.
function fragmentOf(anchor) {
  return '#' + escapeBytes(anchor, false, true);
}

// The text directive of a URL fragment (":~:text=" and its parts, start and end when
// two are given), each part percent-encoded, with "-", "&" and ",", which the directive
// gives a meaning of their own, escaped too.
// "" when a part holds half a surrogate pair, which no URL can carry.
function textFragment(parts) {
  try {
    return ':~:text=' + parts.map(function (part) {
      return encodeURIComponent(part).replace(/-/g, '%2D');
    }).join(',');
  } catch (e) {
    return '';
  }
}

return { locationHref: locationHref, sharedUrlPrefix: sharedUrlPrefix, siteBaseOf: siteBaseOf, fragmentOf: fragmentOf,
  textFragment: textFragment };
});
