#!/usr/bin/env bash
echo "demo: nothing to show yet"
