#include "tools/proxy-helper/pac_functions.h"

namespace Horodex::ProxyHelper {

// Dates and times follow the local time zone unless the last argument is "GMT". Every function
// checks its arguments and answers false for what it cannot read, as browsers do.
const char kPacFunctions[] = R"JS(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  host = String(host).toLowerCase(); domain = String(domain).toLowerCase();
  return host.length >= domain.length &&
         host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
  host = String(host).toLowerCase(); hostdom = String(hostdom).toLowerCase();
  return host === hostdom || (host.indexOf('.') < 0 && hostdom.split('.')[0] === host);
}
function isResolvable(host) { return dnsResolve(host) !== null; }
function isResolvableEx(host) { return dnsResolveEx(host) !== ''; }
function __ipv4(text) {
  var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(text));
  if (!m) return null;
  var v = 0;
  for (var i = 1; i <= 4; i++) { var b = +m[i]; if (b > 255) return null; v = v * 256 + b; }
  return v;
}
function isInNet(host, pattern, mask) {
  var addr = __ipv4(host);
  if (addr === null) { var r = dnsResolve(host); if (r === null) return false; addr = __ipv4(r); }
  var p = __ipv4(pattern), m = __ipv4(mask);
  if (addr === null || p === null || m === null) return false;
  for (var i = 0; i < 4; i++) {
    var div = Math.pow(256, 3 - i);
    var a = Math.floor(addr / div) % 256, b = Math.floor(p / div) % 256,
        c = Math.floor(m / div) % 256;
    if ((a & c) !== (b & c)) return false;
  }
  return true;
}
function isInNetEx(host, prefix) {
  var slash = String(prefix).indexOf('/');
  if (slash < 0) return false;
  var bits = +String(prefix).substring(slash + 1), base = String(prefix).substring(0, slash);
  if (!(bits >= 0 && bits <= 32)) return false;
  var mask = [];
  for (var i = 0; i < 4; i++) {
    var n = Math.max(0, Math.min(8, bits - 8 * i));
    mask.push(256 - Math.pow(2, 8 - n));
  }
  var list = __ipv4(host) !== null ? String(host) : dnsResolveEx(host);
  var hosts = list.split(';');
  for (var j = 0; j < hosts.length; j++) {
    if (hosts[j] !== '' && isInNet(hosts[j], base, mask.join('.'))) return true;
  }
  return false;
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function shExpMatch(text, pattern) {
  var re = '^';
  pattern = String(pattern);
  for (var i = 0; i < pattern.length; i++) {
    var c = pattern.charAt(i);
    if (c === '*') re += '.*';
    else if (c === '?') re += '.';
    else if ('\\^$+.()|{}[]/'.indexOf(c) >= 0) re += '\\' + c;
    else re += c;
  }
  return new RegExp(re + '$').test(String(text));
}
function __gmt(args) {
  return args.length > 0 && args[args.length - 1] === 'GMT';
}
function __args(args) {
  var list = Array.prototype.slice.call(args);
  if (__gmt(list)) list.pop();
  return list;
}
function weekdayRange() {
  var days = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
  var a = __args(arguments), now = new Date();
  var today = __gmt(arguments) ? now.getUTCDay() : now.getDay();
  var from = days.indexOf(String(a[0])), to = a.length > 1 ? days.indexOf(String(a[1])) : from;
  if (from < 0 || to < 0) return false;
  return from <= to ? (today >= from && today <= to) : (today >= from || today <= to);
}
function __months() {
  return ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
}
function dateRange() {
  var a = __args(arguments), now = new Date(), gmt = __gmt(arguments);
  var cur = { d: gmt ? now.getUTCDate() : now.getDate(),
              m: gmt ? now.getUTCMonth() : now.getMonth(),
              y: gmt ? now.getUTCFullYear() : now.getFullYear() };
  // Each argument is a day (1-31), a month name or a year (four digits); the first half of the
  // arguments is the start, the second half the end, each read into the fields it names.
  function read(values) {
    var out = {};
    for (var i = 0; i < values.length; i++) {
      var v = values[i], mi = __months().indexOf(String(v));
      if (mi >= 0) out.m = mi;
      else if (typeof v === 'number' && v >= 1000) out.y = v;
      else if (typeof v === 'number' && v >= 1 && v <= 31) out.d = v;
      else return null;
    }
    return out;
  }
  var half = a.length === 1 ? 1 : a.length / 2;
  if (a.length === 0 || a.length > 6 || half !== Math.floor(half)) return false;
  var from = read(a.slice(0, half)), to = a.length === 1 ? from : read(a.slice(half));
  if (from === null || to === null) return false;
  function key(r, fields) {
    return (fields.y ? (r.y !== undefined ? r.y : cur.y) * 10000 : 0) +
           (fields.m ? (r.m !== undefined ? r.m : cur.m) * 100 : 0) +
           (fields.d ? (r.d !== undefined ? r.d : cur.d) : 0);
  }
  var fields = { y: from.y !== undefined, m: from.m !== undefined, d: from.d !== undefined };
  var lo = key(from, fields), hi = key(to, fields), c = key(cur, fields);
  return lo <= hi ? (c >= lo && c <= hi) : (c >= lo || c <= hi);
}
function timeRange() {
  var a = __args(arguments), now = new Date(), gmt = __gmt(arguments);
  var h = gmt ? now.getUTCHours() : now.getHours(), mi = gmt ? now.getUTCMinutes() : now.getMinutes(),
      s = gmt ? now.getUTCSeconds() : now.getSeconds();
  for (var i = 0; i < a.length; i++) if (typeof a[i] !== 'number') return false;
  var lo, hi, c;
  if (a.length === 1) return h === a[0];
  if (a.length === 2) { lo = a[0]; hi = a[1]; c = h; return lo <= hi ? c >= lo && c < hi : c >= lo || c < hi; }
  if (a.length === 4) { lo = a[0] * 60 + a[1]; hi = a[2] * 60 + a[3]; c = h * 60 + mi; }
  else if (a.length === 6) {
    lo = (a[0] * 60 + a[1]) * 60 + a[2]; hi = (a[3] * 60 + a[4]) * 60 + a[5]; c = (h * 60 + mi) * 60 + s;
  } else return false;
  return lo <= hi ? c >= lo && c <= hi : c >= lo || c <= hi;
}
)JS";

}  // namespace Horodex::ProxyHelper
