// Takes away the built-ins that Windows 98's script engines lack, before an example script runs
// behind it on a newer engine: calling one then ends the script with an error, and the script
// host stops before the example's last line. Windows 98 ships Windows Script Host 1.0 with
// JScript 3.0 (first edition) or JScript 5.0 (second edition); the earlier engine is the one to
// write for. try/catch and throw (JScript 5.0) are syntax and cannot be taken away here: the
// test looks for them in the example's text.
function windows98Lacks(what) {
  return function () { throw what + " is not in JScript 3.0"; };
}
// JScript 5.0
Error = windows98Lacks("Error (JScript 5.0)");
// JScript 5.5
Array.prototype.push = windows98Lacks("Array.prototype.push (JScript 5.5)");
Array.prototype.pop = windows98Lacks("Array.prototype.pop (JScript 5.5)");
Array.prototype.shift = windows98Lacks("Array.prototype.shift (JScript 5.5)");
Array.prototype.unshift = windows98Lacks("Array.prototype.unshift (JScript 5.5)");
Array.prototype.splice = windows98Lacks("Array.prototype.splice (JScript 5.5)");
Function.prototype.apply = windows98Lacks("Function.prototype.apply (JScript 5.5)");
Function.prototype.call = windows98Lacks("Function.prototype.call (JScript 5.5)");
Number.prototype.toFixed = windows98Lacks("Number.prototype.toFixed (JScript 5.5)");
Number.prototype.toExponential = windows98Lacks("Number.prototype.toExponential (JScript 5.5)");
Number.prototype.toPrecision = windows98Lacks("Number.prototype.toPrecision (JScript 5.5)");
Object.prototype.hasOwnProperty = windows98Lacks("Object.prototype.hasOwnProperty (JScript 5.5)");
Object.prototype.isPrototypeOf = windows98Lacks("Object.prototype.isPrototypeOf (JScript 5.5)");
Object.prototype.propertyIsEnumerable = windows98Lacks("Object.prototype.propertyIsEnumerable (JScript 5.5)");
encodeURI = windows98Lacks("encodeURI (JScript 5.5)");
encodeURIComponent = windows98Lacks("encodeURIComponent (JScript 5.5)");
decodeURI = windows98Lacks("decodeURI (JScript 5.5)");
decodeURIComponent = windows98Lacks("decodeURIComponent (JScript 5.5)");
