#!/usr/bin/env python3
"""Conformance script."""


def main():
    print("hello")


main()
