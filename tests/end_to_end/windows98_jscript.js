// Takes away the built-ins that Windows 98's script engines lack, before an example script runs
// behind it on a newer engine: calling one then ends the script with an error, and the script
// host stops before the example's last line. Windows 98 ships Windows Script Host 1.0 with
// JScript 3.0 (first edition) or JScript 5.0 (second edition); the earlier engine is the one to
// write for. try/catch and throw (JScript 5.0) are syntax and cannot be taken away here: the
// test looks for them in the example's text.
function windows98Lacks(what) {
  return function () { throw what + " is not in JScript 3.0"; };
}
// Each row: the object, the built-in's name, how scripts call it, the engine that added it.
var windows98Lacking = [
  [this, "Error", "Error", "JScript 5.0"],
  [Array.prototype, "push", "Array.prototype.push", "JScript 5.5"],
  [Array.prototype, "pop", "Array.prototype.pop", "JScript 5.5"],
  [Array.prototype, "shift", "Array.prototype.shift", "JScript 5.5"],
  [Array.prototype, "unshift", "Array.prototype.unshift", "JScript 5.5"],
  [Array.prototype, "splice", "Array.prototype.splice", "JScript 5.5"],
  [Function.prototype, "apply", "Function.prototype.apply", "JScript 5.5"],
  [Function.prototype, "call", "Function.prototype.call", "JScript 5.5"],
  [Number.prototype, "toFixed", "Number.prototype.toFixed", "JScript 5.5"],
  [Number.prototype, "toExponential", "Number.prototype.toExponential", "JScript 5.5"],
  [Number.prototype, "toPrecision", "Number.prototype.toPrecision", "JScript 5.5"],
  [Object.prototype, "hasOwnProperty", "Object.prototype.hasOwnProperty", "JScript 5.5"],
  [Object.prototype, "isPrototypeOf", "Object.prototype.isPrototypeOf", "JScript 5.5"],
  [Object.prototype, "propertyIsEnumerable", "Object.prototype.propertyIsEnumerable", "JScript 5.5"],
  [this, "encodeURI", "encodeURI", "JScript 5.5"],
  [this, "encodeURIComponent", "encodeURIComponent", "JScript 5.5"],
  [this, "decodeURI", "decodeURI", "JScript 5.5"],
  [this, "decodeURIComponent", "decodeURIComponent", "JScript 5.5"]
];
// Replaced only after the whole table is read: the loop itself needs none of them.
for (var row = 0; row < windows98Lacking.length; ++row) {
  var lacking = windows98Lacking[row];
  lacking[0][lacking[1]] = windows98Lacks(lacking[2] + " (" + lacking[3] + ")");
}
