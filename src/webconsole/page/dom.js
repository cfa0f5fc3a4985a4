// Helpers the web console's scripts share; loaded before them.
'use strict';

window.ConsolePage = (() => {
    const SVG_NS = 'http://www.w3.org/2000/svg';

    const $ = id => document.getElementById(id);

    function svg(tag, attrs = {}) {
        const el = document.createElementNS(SVG_NS, tag);
        for (const [k, v] of Object.entries(attrs)) {
            el.setAttribute(k, v);
        }
        return el;
    }

    function setText(el, text) {
        if (el.textContent !== text) {
            el.textContent = text;
        }
    }

    function setAttr(el, name, value) {
        const v = String(value);
        if (el.getAttribute(name) !== v) {
            el.setAttribute(name, v);
        }
    }

    function finite(v, fallback = 0) {
        const n = Number(v);
        return Number.isFinite(n) ? n : fallback;
    }

    return { $, svg, setText, setAttr, finite };
})();
