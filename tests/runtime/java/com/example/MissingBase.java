package com.example;

/** Compiled, then deleted from the output before jarring (see CMakeLists.txt). */
public class MissingBase {
}
